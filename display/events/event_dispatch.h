// The event callback dispatcher: visits the event sources in a fixed order
// and, at the first one with a script handler, fills a callback message and
// runs the handler. One callback per call; the phase remembers where the
// visit stopped so that the next call resumes there.
#pragma once
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlEventType;
struct vlDisplay;
struct vlBGPic;
struct vlBGPicButton;

// A {function, userdata} pair of registry references, -1 when unset.
struct vlHandlerSlot {
  int32_t functionRef;
  int32_t userdataRef;
};

// Message kinds (what goes into the script's message table).
enum : uint32_t {
  VL_MSG_NONE = 0,
  VL_MSG_BUTTON = 1,
  VL_MSG_KEY = 2,
  VL_MSG_WINDOW = 3,
  VL_MSG_SIZE = 4,
  VL_MSG_MOVE = 5,
  VL_MSG_INTERVAL = 6,
  VL_MSG_TIMEOUT = 7,
  VL_MSG_MOUSE_MOVE = 8,
  VL_MSG_AUDIO = 9,       // sample, music and video ends: x time, y starts
  VL_MSG_FILLMUSIC = 20,  // x frames wanted, y frames queued
  VL_MSG_RUNFINISHED = 25,
  VL_MSG_LABEL = 11,
  VL_MSG_MODE_SWITCH = 12,
  VL_MSG_DROP = 13,
  VL_MSG_CONNECT = 14,
  VL_MSG_DISCONNECT = 15,
  VL_MSG_RECEIVE = 16,
  VL_MSG_UDP = 17,
  VL_MSG_USER_MESSAGE = 18,
  VL_MSG_ORIENTATION = 19,
  VL_MSG_PLUGIN_TYPE = 21,
  VL_MSG_TOUCH = 22,
  VL_MSG_APP_MESSAGE = 23,
  VL_MSG_MENU = 24,
};

// Engine event types the dispatcher handles itself.
enum : uint32_t {
  VL_EVENT_QUIT_REQUEST = 23,
  VL_EVENT_PLUGIN_CALL = 24,
};

// One callback, owned by the caller (on its stack).
struct vlCallbackMsg {
  void* target;  // the display of window and input events
  uint32_t kind;
  vlBGPic* bgpic;          // button events
  vlBGPicButton* button;
  int32_t functionRef;
  int32_t userdataRef;
  uint32_t qualifiers;
  int32_t x, y, selected;
  char action[32];
  char key[32];
  const char* stringData;  // drop-file list, application message, menu item
  int32_t savedTop;  // the stack top before the call, then the results' base
  uint32_t idRecorded;
  vlObjectId recordedId;  // "id", or "serverid" of an OnConnect
  vlObjectId clientId;    // "clientid" of an OnConnect
  vlEventType* eventType;
  void* eventData;
  const void* runRequest;  // RunFinished: the ended program's run request
  // OnUserMessage: the command line, and its arguments after the command
  // joined with zero bytes (owned by the message, FreeUserMessage).
  const char* commandText;
  char* args;
  uint32_t argsLength;
  int32_t argc;
};

// The dispatcher's memory between calls.
struct vlPumpState {
  uint32_t phase;       // where the next call resumes; 0 starts a pass
  uint32_t timersWalked;  // the fired-timer walk of this pass reached the end
  uint32_t eventType;   // the queued event being dispatched
  void* eventData;      // its data, owned until the event is done
  vlDisplay* eventDisplay;  // null once a callback freed it (WatchEventTarget)
  uint32_t eventArgs[3];
  int32_t displayIndex;  // the display list position the current source is at
};

// A plug-in function posted to run on the main thread (event type 24).
struct vlPluginCall {
  int (*function)(vlVMState* state, void* argument);
  void* argument;
};

// The twelve global handler slots, in the order of their names.
constexpr int kGlobalHandlerCount = 12;
extern const char* const kGlobalHandlerNames[kGlobalHandlerCount];
extern vlHandlerSlot gGlobalHandlers[kGlobalHandlerCount];
constexpr int kDisplayHandlerCount = 30;
extern const char* const kDisplayHandlerNames[kDisplayHandlerCount];
// Display handler slots by index in the names above.
enum : int {
  VL_DH_KEYDOWN = 0,
  VL_DH_KEYUP = 1,
  VL_DH_MOUSEMOVE = 2,
  VL_DH_CLOSEWINDOW = 3,
  VL_DH_MOUSEDOWN = 10,
  VL_DH_MOUSEUP = 11,
  VL_DH_RIGHTMOUSEDOWN = 12,
  VL_DH_RIGHTMOUSEUP = 13,
  VL_DH_WHEELDOWN = 14,
  VL_DH_WHEELUP = 15,
  VL_DH_DROPFILE = 17,
  VL_DH_CLIPBOARDCHANGE = 18,
  VL_DH_MIDMOUSEDOWN = 19,
  VL_DH_MIDMOUSEUP = 20,
};
// The display's handler slot (its handler words hold the slots in order).
vlHandlerSlot* DisplayHandler(vlDisplay* display, int slot);
// The display's pointer in content coordinates (MouseX, MouseY).
void DisplayMouseContent(vlDisplay* display, int32_t* x, int32_t* y);

// The network library's side of the network step: its three object lists
// and the polls run on their records, each 1 when its event is due. Null
// (the default) until the library opens.
struct vlNetworkPolls {
  vlObjectNode** servers;
  vlObjectNode** connections;
  vlObjectNode** udpObjects;
  int (*pollUDPData)(vlObjectNode* udpObject);
  int (*acceptClient)(vlObjectNode* server, vlObjectId* clientId);
  int (*pollReceivedData)(vlObjectNode* connection);
  int (*pollDisconnect)(vlObjectNode* connection);
};
void SetNetworkPolls(const vlNetworkPolls* polls);

// The dos library's side of program ends (Run): whether any Run record
// waits for its end, a record's program, argument string (null when none),
// callback and userdata references (-1 when none) by its run request (0
// when there is no such record), and its removal once its end has been
// reported. Null (the default) until the library opens.
struct vlRunEnd {
  const char* program;
  const char* args;
  int32_t callbackRef;
  int32_t userdataRef;
};
struct vlRunEnds {
  int (*pending)();
  int (*find)(const void* request, vlRunEnd* out);
  void (*remove)(vlVMState* state, const void* request);
};
void SetRunEnds(const vlRunEnds* runs);

// The dispatcher's place in each network list: the next record to poll. A
// routine that removes a record moves a cursor that points at it on to the
// record's successor.
struct vlEventPumpCursors {
  vlObjectNode* server;
  vlObjectNode* connection;
  vlObjectNode* udpObject;
};
extern vlEventPumpCursors gEventPumpCursors;

// Creates (zeroed) and frees the dispatcher's state; the open routine of
// the event commands does the first, shut-down the second.
int InitPumpState();
void FreePumpState(vlVMState* state);
vlPumpState* GetPumpState();
// Ends the pass under way: the current queued event's data is freed and
// the next call starts a new pass.
void BreakDispatcherPass(vlVMState* state);

// The next callback: 0, an error code, -1 (a legacy label was selected) or
// 1003 (a quit request). msg->kind says whether a callback ran. Mode 1
// leaves out the hovered-label step.
int NextEventCallback(vlVMState* state, int mode, vlCallbackMsg* msg);
// Runs msg's handler with its message table; without pop the table stays
// on the stack below the results. 0, an error code, or 1003.
int RunEventCallback(vlVMState* state, vlCallbackMsg* msg, int pop);
// Runs a registered event type's handler at once (message table dropped),
// then frees data.
int DispatchCallbackRecord(vlVMState* state, uint32_t code, void* data);

// Fills an OnUserMessage message from a port message block (two texts one
// after the other, the second the command line) and the "onusermessage"
// slot: 0, or 1000 when the arguments find no memory.
int FillUserMessage(vlCallbackMsg* msg, const char* block);
void FreeUserMessage(vlCallbackMsg* msg);

// Above 0 while a "FillMusicBuffer" handler runs (commands that feed music
// are allowed only then).
extern int gMusicCallbackDepth;

// Runs the script's "FillMusicBuffer" handler for a callback-fed music
// (with msg null, on a message of its own, its table popped): 0, an error
// code, or 1003.
int RunFillMusicBuffer(vlVMState* state, vlCallbackMsg* msg, vlObjectId id, uint32_t frames, uint32_t count,
                       int pop);

// Runs a fired interval's (kind 0) or timeout's (kind 1) function at once,
// its message table dropped: the timer adapter's expiry route.
int RunTimerCallback(vlVMState* state, uint32_t kind, vlObjectId id, int functionRef, int userdataRef);
