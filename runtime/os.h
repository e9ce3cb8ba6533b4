// The operating-system layer: memory, time, sleeping, locale, environment,
// console output, program and per-user directories, temporary files and the
// process entry. Everything above the platform layer calls these instead of
// the C library.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "abi/plugin_abi.h"

struct vlVMState;

// Process entry -----------------------------------------------------------
using vlStartUpFn = int (*)(int argc, char** argv);
// Keeps argc/argv, resolves the program path, returns what startUp returns.
int ProcessMain(int argc, char** argv, vlStartUpFn startUp);
// The addresses kept by ProcessMain (null before it ran).
void GetProcessArgs(int** argc, char**** argv);
// Resolves argv0 to an absolute path of the running program; falls back on
// /proc/self/exe when argv0 names no file (started through PATH).
int ResolveProgramPath(const char* argv0, char* buffer, size_t size);
// Copies the program path (empty before ProcessMain) into buffer.
char* GetProgramPath(char* buffer, size_t size);

// Memory ------------------------------------------------------------------
void* AllocMemory(size_t size, int clear);  // size 0 gives null
void FreeMemory(void* block);

// Time --------------------------------------------------------------------
uint32_t GetSysTime(vlTimeVal* out);  // fills out, returns its micros
void SubTimeVal(vlTimeVal* a, const vlTimeVal* b);  // a := a - b
void AddTimeVal(vlTimeVal* a, const vlTimeVal* b);  // a := a + b
int CompareTimeVal(const vlTimeVal* a, const vlTimeVal* b);  // 1, 0, -1
double GetTimeSeconds();
void SleepMillis(uint32_t millis);  // plain sleep, no event pumping; held drawing is sent first

// Dates -------------------------------------------------------------------
// Current local time as text. Mode 0: the user's date format into first;
// 1: "MM-DD-YY" into first and "hh:mm:ss" into second; 2: the time only
// into first; 3: the user's weekday name into first. Buffers hold at least
// 256 bytes.
void FormatDateTime(int mode, char* first, char* second);
// The same for a given moment (seconds since the epoch).
void FormatDateTimeAt(int64_t when, int mode, char* first, char* second);
// date = {second, minute, hour, day, month (0-11), year}; stores the moment
// in times[index]; 0 when the date cannot be represented.
int MakeTimeFromDate(const int32_t date[6], int64_t* times, int index);
void SplitTimeToDate(const int64_t* times, int32_t date[6], int index);

// Locale ------------------------------------------------------------------
int GetLocaleLanguage();  // from LANG; 18 when unknown
int GetLocaleCountry();   // from LANG; 38 when unknown
int LanguageFromLang(const char* lang);
int CountryFromLang(const char* lang);

// Environment and system --------------------------------------------------
char* GetEnvCopy(const char* name);  // AllocMemory copy, or null
int SetEnvVar(const char* name, const char* value);  // 0 or ERR_SETENV
int UnsetEnvVar(const char* name);  // 0 or ERR_UNSETENV
uint32_t GetFreeMemory();  // kilobytes from /proc/meminfo, 0 on failure
uint32_t GetFreeMemoryFrom(const char* meminfoPath);
void PrintToStdout(const char* format, va_list args);

// Directories and temporary files ------------------------------------------
// The temporary directory ("/tmp" unless the command line replaced it).
const char* GetTempDir();
void SetTempDir(const char* dir);
// Builds (and creates) $HOME/.vellamora-pix/preferences in buffer.
void GetPrefsDir(char* buffer, size_t size);
// Makes an empty, uniquely named file in the temporary directory and puts
// its name into buffer; 1 on success, 0 when no file could be made (the
// buffer is then emptied, errno says why: ENAMETOOLONG when the name does
// not fit the buffer, ENOMEM when memory ran out).
int MakeTempFileName(char* buffer, size_t size);
// The error of a temporary file that could not be made, from the errno of
// the failure: ERR_MEM for a lack of memory, else ERR_WRITEFILE naming the
// file in the temporary folder that could not be written.
int TempFileNameError(int error);

// Platform options and requester buttons -----------------------------------
enum {
  VL_PLATOPT_CTRLC_QUIT = 8,   // Ctrl+C ends the script (on at start)
  VL_PLATOPT_LMB_QUIT = 9,     // a left click ends the script
  VL_PLATOPT_ESCAPE_QUIT = 10  // Escape ends the script
};
void SetPlatformOption(uint32_t ignored, int id, int value);
int GetPlatformOption(int id);  // 0 for unknown ids
// "OK", "OK|Cancel", "Yes|No", "Yes|No|Cancel" (any case) give kinds 3, 0,
// 1, 2 and clear *text so the requester shows its standard buttons.
void ClassifyRequestButtons(const char** text, int* kind);

// Running the script -------------------------------------------------------
// Brackets the main chunk with the signal relay; keeps the VM state in
// reach of the relay while it runs.
int RunScriptMain(vlVMState* state);
vlVMState* GetRunningScriptState();
