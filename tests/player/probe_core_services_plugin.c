/* A command-library plug-in in C, built against the plug-in header alone,
 * that calls the system, file, sound, requester, font and built-in data
 * services with real arguments and hands what they answered to the script
 * ("probecore.NAME"), and calls script functions back with and without
 * protection. The player test (core_services_test.cpp) compares
 * that with files, windows and the sound device. */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "abi/plugin_abi.h"

#define PROBE_EXPORT __attribute__((visibility("default")))

static const vlServiceTable* svc;
static vlPluginInfo* self;

static void PushText(vlVMState* state, const char* text) { svc->vm->PushString(state, text); }

/* Appends printf-style text to a buffer of size bytes. */
static void Add(char* buffer, size_t size, const char* format, ...) {
  size_t used = strlen(buffer);
  va_list args;
  if (used + 1 >= size) return;
  va_start(args, format);
  svc->stdlib->vsnprintf_(buffer + used, size - used, format, args);
  va_end(args);
}

/* ---- slots: every built slot is set, every empty one null ------------- */

static int Slots(vlVMState* state) {
  char bad[2048] = "";
  const void* const* system = (const void* const*)svc->system;
  const void* const* files = (const void* const*)svc->files;
  const void* const* sound = (const void* const*)svc->sound;
  const void* const* requesters = (const void* const*)svc->requesters;
  const void* const* fonts = (const void* const*)svc->fonts;
  int i;
  for (i = 0; i < 56; ++i)
    if ((system[i] != NULL) != (i < 49)) Add(bad, sizeof bad, " system.%d", i);
  for (i = 0; i < 40; ++i)
    if ((files[i] != NULL) != (i < 33)) Add(bad, sizeof bad, " files.%d", i);
  for (i = 0; i < 3; ++i)
    if (!sound[i]) Add(bad, sizeof bad, " sound.%d", i);
  for (i = 0; i < 4; ++i)
    if (!requesters[i]) Add(bad, sizeof bad, " requesters.%d", i);
  for (i = 0; i < 3; ++i)
    if ((fonts[i] != NULL) != (i == 0)) Add(bad, sizeof bad, " fonts.%d", i);
  for (i = 0; i < 3; ++i)
    if (!svc->builtinData->fonts[i] || !svc->builtinData->fontSizes[i]) Add(bad, sizeof bad, " builtin.%d", i);
  for (i = 0; i < 4; ++i)
    if (svc->builtinData->unused[i]) Add(bad, sizeof bad, " builtin.unused%d", i);
  /* A plug-in without the capability is refused as a wrong use (1055);
   * this one, asked outside plug-in initialisation, with 1518. */
  {
    vlPluginInfo plain;
    memset(&plain, 0, sizeof plain);
    i = svc->system->SetTimerAdapter(&plain, 0);
    if (i != 1055) Add(bad, sizeof bad, " system.39 answers %d", i);
  }
  i = svc->system->SetTimerAdapter(self, 0);
  if (i != 1518) Add(bad, sizeof bad, " system.39 for the probe answers %d", i);
  PushText(state, bad[0] ? bad + 1 : "slots ok");
  return 1;
}

/* ---- system ------------------------------------------------------------ */

static int Tags(vlVMState* state) {
  const char* strings[6] = {NULL, NULL, NULL, NULL, NULL, NULL};
  int32_t fps = -1;
  uint32_t gtk = 7;
  vlTagItem tags[11];
  char out[2048] = "";
  int handled, i;
  for (i = 0; i < 5; ++i) {
    tags[i].tag = 26 + i;
    tags[i].value = (uintptr_t)&strings[i];
  }
  tags[5].tag = 37;
  tags[5].value = (uintptr_t)&strings[5];
  tags[6].tag = 35;
  tags[6].value = (uintptr_t)&fps;
  tags[7].tag = 32;
  tags[7].value = (uintptr_t)&gtk;
  tags[8].tag = 25;
  tags[8].value = 99;
  tags[9].tag = 9999; /* unknown: passed over, not counted */
  tags[9].value = 0;
  tags[10].tag = VL_TAG_END;
  tags[10].value = 0;
  handled = svc->system->SystemTags(state, tags);
  for (i = 0; i < 6; ++i) Add(out, sizeof out, "%s|", strings[i] ? strings[i] : "(null)");
  Add(out, sizeof out, "fps=%d gtk=%u tag25=%lu handled=%d", (int)fps, (unsigned)gtk, (unsigned long)tags[8].value,
      handled);
  PushText(state, out);
  return 1;
}

/* The stamp, checked against the date string it is parsed from. */
static int DateStamp(vlVMState* state) {
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char before[64], after[64], expect[64] = "", out[256];
  vlDateRecord date;
  int tries, ok = 0;
  memset(&date, 0, sizeof date);
  /* A second may turn between the calls: try again then. */
  for (tries = 0; tries < 3; ++tries) {
    svc->system->GetDateString(before, sizeof before);
    ok = svc->system->GetDateStamp(&date);
    svc->system->GetDateString(after, sizeof after);
    if (strcmp(before, after) == 0) break;
  }
  if (ok && date.month >= 1 && date.month <= 12)
    snprintf(expect, sizeof expect, "%02d-%s-%04d %02d:%02d:%02d", (int)date.day, months[date.month - 1],
             (int)date.year, (int)date.hours, (int)date.minutes, (int)date.seconds);
  if (!ok || strcmp(expect, before) != 0 || svc->system->GetDateStamp(NULL) != 0) {
    snprintf(out, sizeof out, "date stamp [%s] for [%s]", expect, before);
    PushText(state, out);
    return 1;
  }
  snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", (int)date.year, (int)date.month, (int)date.day,
           (int)date.hours, (int)date.minutes, (int)date.seconds);
  PushText(state, out);
  return 1;
}

static uintptr_t eventRecord[1];

/* The fields of an "onprobeping" message: the word posted with it. */
static void PingFields(vlVMState* state, uint32_t code, void* data) {
  (void)code;
  svc->vm->PushString(state, "value");
  svc->vm->PushNumber(state, (double)((uintptr_t*)data)[0]);
  svc->vm->SetTableValue(state, -3);
}

/* Registers the type (twice: the second is refused) and posts one event of
 * it with the given value: "code again post". */
static uint32_t pingCode;

static int Event(vlVMState* state) {
  const char* name = svc->vm->CheckStringArg(state, 1, NULL);
  uint32_t code = pingCode = svc->system->RegisterEventTypeSimple(name, PingFields);
  uint32_t again = svc->system->RegisterEventTypeSimple(name, PingFields);
  int posted;
  char out[64];
  eventRecord[0] = (uintptr_t)svc->vm->CheckIntArg(state, 2);
  posted = code ? svc->system->PostAdapterEvent(code, eventRecord) : -1;
  snprintf(out, sizeof out, "%s %u %d", code >= 28 ? "code" : "nocode", (unsigned)again, posted);
  PushText(state, out);
  return 1;
}

/* quitpost(value): posts a ping of that value through both posting slots
 * while the quit flag is set (then clears it): "posted postedVM". */
static int QuitPost(vlVMState* state) {
  static uintptr_t record[1];
  vlTagItem quit[2] = {{38, 0}, {VL_TAG_END, 0}}, resume[2] = {{40, 0}, {VL_TAG_END, 0}};
  char out[64];
  int posted, postedVM;
  record[0] = (uintptr_t)svc->vm->CheckIntArg(state, 1);
  svc->system->SystemTags(state, quit);
  posted = svc->system->PostAdapterEvent(pingCode, record);
  postedVM = svc->system->PostAdapterEventVM(state, pingCode, record, 0);
  svc->system->SystemTags(state, resume);
  snprintf(out, sizeof out, "%d %d", posted, postedVM);
  PushText(state, out);
  return 1;
}

static void* client;
static int refreshCalls;

static void Observe(void* node, uint32_t code, const int32_t* args, void* userData) {
  (void)node;
  (void)args;
  (void)userData;
  if (code == 5) ++refreshCalls;
}

/* clientadd(display): a client of that display. */
static int ClientAdd(vlVMState* state) {
  client = VL_GFX(svc, AddDisplayClient)(svc->vm->CheckIntArg(state, 1), NULL, Observe, NULL, NULL, 0);
  refreshCalls = 0;
  svc->vm->PushNumber(state, client != NULL);
  return 1;
}

/* clientrefresh(on): the refresh word; answers the refresh calls so far. */
static int ClientRefresh(vlVMState* state) {
  vlTagItem tags[2];
  char out[64];
  int status;
  tags[0].tag = VL_CLIENT_REFRESH;
  tags[0].value = (uintptr_t)svc->vm->CheckIntArg(state, 1);
  tags[1].tag = VL_TAG_END;
  tags[1].value = 0;
  status = svc->system->DisplayClientControl(client, tags);
  snprintf(out, sizeof out, "%d %d", status, refreshCalls);
  PushText(state, out);
  return 1;
}

/* clientinput(kind, a, b, c): one input through the client (kind as the
 * VL_CLIENT_* tags); the status. A client of 0 is the first display. */
static int ClientInput(vlVMState* state) {
  int32_t data[3];
  vlTagItem tags[2];
  tags[0].tag = (uint32_t)svc->vm->CheckIntArg(state, 1);
  data[0] = svc->vm->CheckIntArg(state, 2);
  data[1] = svc->vm->CheckIntArg(state, 3);
  data[2] = svc->vm->CheckIntArg(state, 4);
  tags[0].value = (uintptr_t)data;
  tags[1].tag = VL_TAG_END;
  tags[1].value = 0;
  svc->vm->PushNumber(state, svc->system->DisplayClientControl(svc->vm->CheckIntArg(state, 5) ? client : NULL, tags));
  return 1;
}

/* ---- files ------------------------------------------------------------- */

static int Files(vlVMState* state) {
  const char* folder = svc->vm->CheckStringArg(state, 1, NULL);
  const vlSvcFiles* f = svc->files;
  char out[4096] = "";
  char* temp = f->MakeTempFileNameSvc();
  vlPluginStat st;
  vlLockStatus ls;
  vlPluginFileInfo info;
  void* stream;
  void* lock;
  time_t now = time(NULL);
  if (!temp) {
    PushText(state, "no temporary name");
    return 1;
  }
  /* The name is a new empty file; written through a stream it grows. */
  Add(out, sizeof out, "temp=%s", temp);
  Add(out, sizeof out, " made=%d", svc->stdlib->StatRecord(temp, &st) == 0 && st.sizeLow == 0);
  stream = f->OpenFileDefault(temp, 1);
  Add(out, sizeof out, " wrote=%d", stream && f->WriteFileStream(stream, "probe!", 6) == 6);
  if (stream) {
    memset(&info, 0, sizeof info);
    Add(out, sizeof out, " stream=%d", f->ExamineStreamSvc(stream, &info, 0));
    Add(out, sizeof out, " streamname=%d", info.name && strcmp(info.name, temp) == 0);
    f->CloseFileStream(stream);
  }
  lock = f->LockPath(temp, 0);
  if (lock) {
    int got;
    memset(&ls, 0, sizeof ls);
    got = f->StatLockSvc(lock, &ls);
    Add(out, sizeof out, " stat=%d size=%lu dir=%lu", got, (unsigned long)ls.size, (unsigned long)ls.isDirectory);
    Add(out, sizeof out, " recent=%d",
        (long)ls.modifyTime >= (long)now - 5 && (long)ls.modifyTime <= (long)now + 5);
    memset(&info, 0, sizeof info);
    Add(out, sizeof out, " examine=%d", f->ExamineLockSvc(lock, &info, VL_EXAMINE_COPIES));
    Add(out, sizeof out, " name=%d size=%lu rw=%d", info.name && strcmp(info.name, temp) == 0,
        (unsigned long)info.size, (info.protection & 3) == 3);
    /* Copies are the plug-in's: released with the player's allocator. */
    svc->system->FreePluginMemory((void*)info.name);
    svc->system->FreePluginMemory((void*)info.comment);
    Add(out, sizeof out, " static=%d", f->ExamineLockSvc(lock, &info, 0) && strcmp(info.name, temp) == 0);
    f->FreeFileLock(lock);
  }
  lock = f->LockPath(folder, 4);
  if (lock) {
    memset(&ls, 0, sizeof ls);
    f->StatLockSvc(lock, &ls);
    Add(out, sizeof out, " folder=%lu", (unsigned long)ls.isDirectory);
    f->FreeFileLock(lock);
  }
  Add(out, sizeof out, " null=%d%d%d", f->StatLockSvc(NULL, &ls), f->ExamineLockSvc(NULL, &info, 0),
      f->ExamineStreamSvc(NULL, &info, 0));
  f->ReleasePathHook(temp);
  Add(out, sizeof out, " removed=%d", f->RemovePath(temp));
  svc->system->FreePluginMemory(temp);
  PushText(state, out);
  return 1;
}

/* ---- sound ------------------------------------------------------------- */

/* replace(id, frames, rate, period): locks a copy of the sample, reports
 * what the lock says, and puts a square wave of that many 16-bit mono
 * frames (+/-8000, the given period) in its place. */
static int SampleReplace(vlVMState* state) {
  vlObjectId id;
  vlSampleLock* lock = NULL;
  char out[256];
  int32_t frames, rate, period, i;
  int16_t* wave;
  int status;
  id.number = svc->vm->CheckIntArg(state, 1);
  id.handle = NULL;
  frames = svc->vm->CheckIntArg(state, 2);
  rate = svc->vm->CheckIntArg(state, 3);
  period = svc->vm->CheckIntArg(state, 4);
  status = svc->sound->LockSampleData(&id, 0, &lock);
  if (status || !lock) {
    snprintf(out, sizeof out, "lock %d", status);
    PushText(state, out);
    return 1;
  }
  snprintf(out, sizeof out, "bytes=%lu frames=%lu channels=%lu bits=%lu rate=%lu flags=%lu",
           (unsigned long)lock->bytes, (unsigned long)lock->frames, (unsigned long)lock->channels,
           (unsigned long)lock->bits, (unsigned long)lock->rate, (unsigned long)lock->flags);
  if (lock->bits == 16 && lock->channels == 1 && !(lock->flags & VL_SAMPLE_BIGENDIAN)) {
    wave = (int16_t*)svc->system->AllocPluginMemory((size_t)frames * 2, 0);
    for (i = 0; wave && i < frames; ++i) wave[i] = (int16_t)((i % period) < period / 2 ? 8000 : -8000);
    lock->pcm = wave;
    lock->frames = (uintptr_t)frames;
    lock->bytes = (uintptr_t)frames * 2;
    lock->rate = (uintptr_t)rate;
  }
  status = svc->sound->UnlockSampleData(lock);
  Add(out, sizeof out, " unlock=%d", status);
  PushText(state, out);
  return 1;
}

/* scale(id, divisor): a direct lock; every value divided in place. */
static int SampleScale(vlVMState* state) {
  vlObjectId id;
  vlSampleLock* lock = NULL;
  int32_t divisor;
  uintptr_t i;
  int status;
  id.number = svc->vm->CheckIntArg(state, 1);
  id.handle = NULL;
  divisor = svc->vm->CheckIntArg(state, 2);
  status = svc->sound->LockSampleData(&id, VL_SAMPLE_DIRECT, &lock);
  if (!status && lock->bits == 16)
    for (i = 0; i < lock->bytes / 2; ++i) ((int16_t*)lock->pcm)[i] = (int16_t)(((int16_t*)lock->pcm)[i] / divisor);
  if (!status) status = svc->sound->UnlockSampleData(lock);
  svc->vm->PushNumber(state, status);
  return 1;
}

/* lockstatus(id): what a lock answers now (the sample may play). */
static int SampleLockStatus(vlVMState* state) {
  vlObjectId id;
  vlSampleLock* lock = NULL;
  int status;
  id.number = svc->vm->CheckIntArg(state, 1);
  id.handle = NULL;
  status = svc->sound->LockSampleData(&id, 0, &lock);
  if (!status) svc->sound->UnlockSampleData(lock);
  svc->vm->PushNumber(state, status);
  svc->vm->PushNumber(state, lock != NULL);
  return 2;
}

/* ---- requesters -------------------------------------------------------- */

/* request(folder): a message box, a file and two folder requesters, then a
 * save requester: "button|file|folder|small|cancelled|gtk before after". */
static int Request(vlVMState* state) {
  const char* folder = svc->vm->CheckStringArg(state, 1, NULL);
  char file[1024], path[1024], tiny[4], cancelled[64], out[2400];
  uint32_t before = 9, after = 9;
  vlTagItem tags[2];
  int32_t button;
  int gotFile, gotPath, small, gotCancel;
  tags[0].tag = 32;
  tags[0].value = (uintptr_t)&before;
  tags[1].tag = VL_TAG_END;
  tags[1].value = 0;
  svc->system->SystemTags(state, tags);
  button = svc->requesters->SystemRequestSvc("Probe box", "Pick one", "One|Two|Three");
  gotFile = svc->requesters->FileRequestSvc("Probe file", folder, "", 0, file, sizeof file);
  gotPath = svc->requesters->PathRequestSvc("Probe folder", folder, path, sizeof path);
  /* A path that does not fit comes back as 0 and an empty buffer. */
  small = svc->requesters->PathRequestSvc("Probe small", folder, tiny, sizeof tiny);
  /* A cancelled requester gives 0 and an empty buffer. */
  strcpy(cancelled, "x");
  gotCancel = svc->requesters->FileRequestSvc("Probe cancel", folder, "new.txt", 2, cancelled, sizeof cancelled);
  tags[0].value = (uintptr_t)&after;
  svc->system->SystemTags(state, tags);
  snprintf(out, sizeof out, "%d|%d %s|%d %s|%d [%s]|%d [%s]|gtk %u %u", (int)button, gotFile, gotFile ? file : "",
           gotPath, gotPath ? path : "", small, tiny, gotCancel, cancelled, (unsigned)before, (unsigned)after);
  PushText(state, out);
  return 1;
}

/* ---- calls back into the script ------------------------------------------ */

/* guarded(f, args...): f called under the protected call; its status,
 * then 1 when the call left the stack top above the slot below f (an error
 * does not reset it), else 0. */
static int Guarded(vlVMState* state) {
  int status = svc->vm->CallProtected(state, svc->vm->GetStackTop(state) - 1, 0, 0);
  int left = svc->vm->GetStackTop(state) > 0;
  svc->vm->SetStackTop(state, 0);
  svc->vm->PushNumber(state, status);
  svc->vm->PushNumber(state, left);
  return 2;
}

/* guardedone(f, args...): f called under the protected call with one
 * result asked for; its status, the stack top after it (f was at 1) and
 * the type name of what stands there. */
static int GuardedOne(vlVMState* state) {
  int status = svc->vm->CallProtected(state, svc->vm->GetStackTop(state) - 1, 1, 0);
  int top = svc->vm->GetStackTop(state);
  char out[64];
  snprintf(out, sizeof out, "%d %d %s", status, top, top > 0 ? svc->vm->GetTypeName(state, svc->vm->GetTypeAt(state, top)) : "none");
  svc->vm->SetStackTop(state, 0);
  PushText(state, out);
  return 1;
}

/* unguarded(f, args...): the same call unprotected; an error passes on. */
static int Unguarded(vlVMState* state) {
  svc->vm->CallFunction(state, svc->vm->GetStackTop(state) - 1, 0);
  PushText(state, "returned");
  return 1;
}

/* ---- a timer adapter without a display adapter --------------------------- */

/* Installed when the script requires the plug-in. Each timer is a thread
 * of its own that sleeps its period and posts a call event; the event's
 * function runs the due handler on the script's thread, the next time the
 * script runs handlers. */
typedef struct ProbeTimer {
  struct ProbeTimer* next;
  pthread_t thread;
  uint32_t millis;
  int oneShot;
  int stop;
} ProbeTimer;
static ProbeTimer* timers;
static int timersMade, timersFreed, lastOneShot;
static uint32_t lastMillis;

static int RunDueTimer(vlVMState* state, void* handle) { return svc->system->RunHandlerById(state, handle); }

static void* TimerThread(void* arg) {
  ProbeTimer* t = (ProbeTimer*)arg;
  do {
    vlAdapterEvent event;
    svc->system->SleepMillis(t->millis);
    if (__atomic_load_n(&t->stop, __ATOMIC_ACQUIRE)) break;
    memset(&event, 0, sizeof event);
    event.word[0] = (uintptr_t)RunDueTimer;
    event.word[1] = (uintptr_t)t;
    svc->system->PostAdapterEvent(VL_AEV_CALL, (const uintptr_t*)&event);
  } while (!t->oneShot);
  return NULL;
}

PROBE_EXPORT uintptr_t RegisterTimer(vlVMState* state, uint32_t millis, int oneShot) {
  ProbeTimer* t = (ProbeTimer*)calloc(1, sizeof *t);
  (void)state;
  if (!t) return 0;
  t->millis = millis;
  t->oneShot = oneShot;
  if (pthread_create(&t->thread, NULL, TimerThread, t) != 0) {
    free(t);
    return 0;
  }
  t->next = timers;
  timers = t;
  ++timersMade;
  lastMillis = millis;
  lastOneShot = oneShot;
  return (uintptr_t)t;
}

static void StopTimer(ProbeTimer* t) {
  __atomic_store_n(&t->stop, 1, __ATOMIC_RELEASE);
  pthread_join(t->thread, NULL);
  free(t);
}

PROBE_EXPORT void FreeTimer(uintptr_t handle) {
  ProbeTimer** link;
  for (link = &timers; *link; link = &(*link)->next) {
    if ((uintptr_t)*link != handle) continue;
    {
      ProbeTimer* t = *link;
      *link = t->next;
      StopTimer(t);
      ++timersFreed;
    }
    return;
  }
}

PROBE_EXPORT int RequirePlugin(vlVMState* state, int32_t version, int32_t revision, uint32_t zero,
                               const vlTagItem* tags) {
  (void)state;
  (void)version;
  (void)revision;
  (void)zero;
  (void)tags;
  return svc->system->SetTimerAdapter(self, 0);
}

/* timers(): "made N every MS once ONESHOT freed F". */
static int Timers(vlVMState* state) {
  char out[128];
  snprintf(out, sizeof out, "made %d every %u once %d freed %d", timersMade, (unsigned)lastMillis, lastOneShot,
           timersFreed);
  PushText(state, out);
  return 1;
}

/* ---- fonts and built-in data -------------------------------------------- */

/* font(name, slant, weight, copy): the face found; a temporary face file
 * is copied to copy and then removed, as its user should. */
static int Font(vlVMState* state) {
  const char* name = svc->vm->CheckStringArg(state, 1, NULL);
  int32_t slant = svc->vm->CheckIntArg(state, 2), weight = svc->vm->CheckIntArg(state, 3);
  const char* copy = svc->vm->CheckStringArg(state, 4, NULL);
  vlFontFile face;
  char out[1400];
  int found = svc->fonts->FindFontFile(name, slant, weight, &face);
  if (!found) {
    PushText(state, "not found");
    return 1;
  }
  snprintf(out, sizeof out, "%s size=%u offset=%u temp=%u data=%d", face.path, (unsigned)face.size,
           (unsigned)face.offset, (unsigned)face.isTemporary, face.data != NULL);
  if (face.isTemporary) {
    FILE* in = svc->stdlib->fopen_(face.path, "rb");
    FILE* to = svc->stdlib->fopen_(copy, "wb");
    char block[4096];
    size_t n;
    while (in && to && (n = svc->stdlib->fread_(block, 1, sizeof block, in)) > 0) svc->stdlib->fwrite_(block, 1, n, to);
    if (in) svc->stdlib->fclose_(in);
    if (to) svc->stdlib->fclose_(to);
    svc->files->RemovePath(face.path);
  }
  if (face.data) svc->files->SaveBufferToFile(copy, face.data, face.size, 1);
  PushText(state, out);
  return 1;
}

/* builtin(folder): the three carried faces written as face0..2.ttf; each
 * must start with the TrueType signature. */
static int Builtin(vlVMState* state) {
  const char* folder = svc->vm->CheckStringArg(state, 1, NULL);
  char name[1200], out[64] = "";
  int i;
  for (i = 0; i < 3; ++i) {
    const unsigned char* bytes = (const unsigned char*)svc->builtinData->fonts[i];
    int signature = bytes && bytes[0] == 0 && bytes[1] == 1 && bytes[2] == 0 && bytes[3] == 0;
    snprintf(name, sizeof name, "%s/face%d.ttf", folder, i);
    Add(out, sizeof out, "%d", signature &&
                                   svc->files->SaveBufferToFile(name, bytes, (int64_t)svc->builtinData->fontSizes[i],
                                                                1) == 0);
  }
  PushText(state, out);
  return 1;
}

static const vlCommand commands[] = {
    {"Slots", Slots},
    {"Tags", Tags},
    {"DateStamp", DateStamp},
    {"Event", Event},
    {"QuitPost", QuitPost},
    {"ClientAdd", ClientAdd},
    {"ClientRefresh", ClientRefresh},
    {"ClientInput", ClientInput},
    {"Files", Files},
    {"Replace", SampleReplace},
    {"Scale", SampleScale},
    {"LockStatus", SampleLockStatus},
    {"Request", Request},
    {"Font", Font},
    {"Builtin", Builtin},
    {"Guarded", Guarded},
    {"GuardedOne", GuardedOne},
    {"Unguarded", Unguarded},
    {"Timers", Timers},
    {NULL, NULL},
};

PROBE_EXPORT int InitPlugin(vlPluginInfo* info, const vlServiceTable* table, const char* path, void* handle) {
  (void)path;
  (void)handle;
  svc = table;
  self = info;
  info->capabilities = PLUGINCAPS_LIBRARY | PLUGINCAPS_REQUIRE | PLUGINCAPS_TIMERADAPTER;
  info->version = 1;
  info->name = "Core services probe";
  info->moduleName = "probecore";
  return 1;
}

PROBE_EXPORT void ClosePlugin(void) {
  while (timers) {
    ProbeTimer* t = timers;
    timers = t->next;
    StopTimer(t);
  }
  svc = NULL;
}
PROBE_EXPORT const char* GetBaseTable(void) { return "probecore"; }
PROBE_EXPORT const vlCommand* GetCommands(void) { return commands; }
PROBE_EXPORT const vlConstant* GetConstants(void) { return NULL; }
PROBE_EXPORT int InitLibrary(vlVMState* state) {
  (void)state;
  return 0;
}
PROBE_EXPORT void FreeLibrary(vlVMState* state) { (void)state; }

/* Each entry as the type the player calls it through: a signature that
 * drifts from the plug-in header fails to build. */
__attribute__((unused)) static void CheckEntryTypes(vlPluginInfo* info) {
  info->InitPlugin = InitPlugin;
  info->ClosePlugin = ClosePlugin;
  info->GetBaseTable = GetBaseTable;
  info->GetCommands = GetCommands;
  info->GetConstants = GetConstants;
  info->InitLibrary = InitLibrary;
  info->FreeLibrary = FreeLibrary;
  info->RequirePlugin = RequirePlugin;
  info->RegisterTimer = RegisterTimer;
  info->FreeTimer = FreeTimer;
}
