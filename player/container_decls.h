// Reading one declaration record of a container.
#pragma once

struct vlStream;
struct vlContainerContext;
struct vlPreprocRecord;

// Reads one record into rec (cleared by the caller); what it allocated
// stays in rec, for FreePreprocRecords, also on an error. 0 or a code.
int ReadPreprocRecord(vlStream* stream, const vlContainerContext* context, vlPreprocRecord* rec);
