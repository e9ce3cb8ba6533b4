// Readers of command option tables (lower-case keys, absent keys keep their
// defaults), writers of result tables, and the reader of number-or-percent
// arguments.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/objects.h"

// Every reader fetches table[key] from the table at stack index table. A
// nil value returns 0 and leaves the output untouched; any other value is
// converted and stored, *found (when given) is set to 1 and 1 is returned.
// The stack is as before in every case. A value of the wrong type raises
// the reader's error naming the key.
int GetTableNumber(vlVMState* state, int table, const char* key, double* out, int* found);
int GetTableInt(vlVMState* state, int table, const char* key, int32_t* out, int* found);
// Copies at most size - 1 characters of the text into buffer.
int GetTableString(vlVMState* state, int table, const char* key, char* buffer, size_t size,
                   int* found);
// 0 or 1: nil, false, 0 and the empty text count as false.
int GetTableBool(vlVMState* state, int table, const char* key, int* out, int* found);
int GetTableObjectID(vlVMState* state, int table, const char* key, vlObjectId* out, int* found);
// An integer, or for a text "N%" the percentage negated (-N). A negative
// percentage, or one above 100 unless allowed, raises 1502.
// A picture's scale size: pixels (0 the picture's own size) or "N%"
// (stored negated). A negative number, one past the int range or not a
// number, and a percentage that comes to less than 1 % or past the int
// range, are refused: 1055, *out untouched; else 0.
int GetTableScaleSize(vlVMState* state, int table, const char* key, int32_t* out);
int GetTableIntOrPercent(vlVMState* state, int table, const char* key, int32_t* out,
                         int allowAbove100, int* found);
// As GetNumberOrPercentArg for a field (errors 1502 naming the key).
int GetTableNumberOrPercent(vlVMState* state, int table, const char* key, double* out,
                            double total, int allowAbove100, int* percentFlag, int* found);
// A layer number, or a layer name looked up in the current BGPic.
int GetTableLayerID(vlVMState* state, int table, const char* key, int32_t* out, int* found);
// The numbers of the subtable at key, from index 0, into out (at most
// capacity of them); *count gets how many were read. Fewer than required
// raise 1014.
int GetTableNumberList(vlVMState* state, int table, const char* key, double* out, int capacity,
                       int required, int* count, int* found);
// The ids of the subtable "images", from index 0 up to the first nil, into
// out (at most capacity); 0 or an error code (1446 when "images" is not a
// table, with tableName as the error argument).
int GetTableImageList(vlVMState* state, int table, const char* tableName, vlObjectId* out,
                      int capacity, int* count);

// A new copy (malloc, the caller frees) of a file-name field, resolved
// against the files linked into the script when resolve is set; its length
// in *length. 0 (absent fields included: *found tells), or 1000.
int GetTableFileName(vlVMState* state, int table, const char* key, int resolve, int* isFont,
                     char** buffer, size_t* length, int* found);

// Writers: table[key] = value for the table on top of the stack, which stays.
void SetTableString(vlVMState* state, const char* key, const char* text);
void SetTableNumber(vlVMState* state, const char* key, double value);
void SetTableInt(vlVMState* state, const char* key, int32_t value);
void SetTableUnsigned(vlVMState* state, const char* key, uint32_t value);

// A number argument, or a text "N%": N percent of total, or N / 100 with
// *percentFlag set when total is 0. Errors 1184 (bad text) and 1183 (other
// types) name the argument index.
double GetNumberOrPercentArg(vlVMState* state, int index, double total, int allowAbove100,
                             int* percentFlag);
