// External programs: documents handed to the desktop's opener, command lines
// run through the shell, and programs forked directly with their own
// argument vector, optionally watched by the "External program thread",
// which reports the child's end as audio event 10.
#pragma once
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "runtime/threads.h"

// The longest argument vector (program included) and output file name.
constexpr size_t kMaxProgramArgs = 128;
constexpr size_t kMaxOutputName = 255;

// The part of the dos library's run object that this layer uses. The
// worker sits in the second word, where StopWorker looks for it.
struct vlRunRequest {
  intptr_t pid;  // the child, written by the watcher
  vlWorker* worker;
  vlMutex* mutex;          // made and freed by the watcher
  vlCondition* condition;  // made and freed by the watcher
  const char* program;
  const char* args;
  int32_t error;  // why the program could not be started, 0 when it was
};

// A split argument string: vector[0] is the program, the vector ends with a
// null entry; output is empty without a redirection. Every string is owned.
struct vlProgramArgs {
  char* vector[kMaxProgramArgs + 1];
  size_t count;
  char output[kMaxOutputName + 1];
};
// Splits args (may be null) behind program: 0, ERR_WRONGUSAGE (open quote,
// too many arguments, a redirection without or with too long a name) or
// ERR_MEM. On failure nothing stays allocated.
int SplitProgramArgs(const char* program, const char* args, vlProgramArgs* out);
void FreeProgramArgs(vlProgramArgs* args);

// 1 when name is a document for the desktop's opener rather than a program.
int IsDocumentName(const char* name);

// Fork flag 0: through the shell, waiting for it; 1: forked directly, not
// waited for, the child's id through pidOut (may be null). 0, ERR_WRONGUSAGE,
// ERR_EXECUTE or ERR_MEM.
int RunProgram(const char* program, const char* args, int forkFlag, pid_t* pidOut);
int SpawnProgram(const char* program, const char* args, int forkFlag);
// Hands a file or URL to "xdg-open" as one argument, never through the
// shell; waits for the opener when wait is set. 0 or an error code.
int RunDesktopOpener(const char* name, int wait, pid_t* pidOut);
// Hands a file or URL to the desktop's opener and waits for it; always 0.
int OpenWithDesktop(const char* fileOrUrl);

// Starts the watcher of an asynchronous run: 0, the reason the program
// could not be started (ERR_EXECUTE, ERR_WRONGUSAGE, ERR_MEM) or ERR_THREAD.
int StartExternalProgramThread(vlRunRequest* request);
void ExternalProgramThread(void* start);
// Runs the request's program and posts its end; 1, or 0 when it could not
// be started.
int RunProgramAndWatch(vlRunRequest* request, vlWorker* worker);
