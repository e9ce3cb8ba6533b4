// The plug-in-facing adapters of the system, file, sound, requester and
// font sub-tables that stand in files of their own, and the tables they
// make whole. service_table.cpp places them in the table.
#pragma once
#include "abi/plugin_abi.h"

// System (service_system.cpp).
int SystemTagsSvc(vlVMState* state, vlTagItem* tags);
void GetDateStringSvc(char* buffer, size_t size);
uint32_t RegisterEventTypeSimpleSvc(const char* name, vlEventFieldsFn fields);
int DisplayClientControlSvc(void* client, const vlTagItem* tags);
int GetDateStampSvc(vlDateRecord* date);
int SetTimerAdapterSvc(vlPluginInfo* info, uint32_t flags);

// Files (service_files.cpp).
int StatLockSvc(void* lock, vlLockStatus* status);
void ReleasePathHookSvc(const char* path);
int ExamineLockSvc(void* lock, vlPluginFileInfo* info, uint32_t flags);
int ExamineStreamSvc(void* stream, vlPluginFileInfo* info, uint32_t flags);
char* MakeTempFileNameSvc();

// Whole sub-tables (service_sound.cpp, service_requesters.cpp,
// service_fonts.cpp).
extern const vlSvcSound kSoundServices;
extern const vlSvcRequesters kRequesterServices;
extern const vlSvcFonts kFontServices;
extern const vlSvcBuiltinData kBuiltinDataServices;
