// Joysticks: the Linux joystick devices, opened once, one state record per
// device updated from its 8-byte event stream when the event pump polls,
// and the direction and buttons of a port.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlJoystick {
  vlJoystick* next;
  int fd;             // read-only, non-blocking
  uint32_t buttons;   // bit n: button n pressed (buttons 0-31)
  int32_t x;
  int32_t y;
};

// One device event as the kernel delivers it.
struct vlJoyEvent {
  uint32_t time;  // milliseconds
  int16_t value;
  uint8_t type;   // VL_JS_EVENT_* bits
  uint8_t number;
};
static_assert(sizeof(vlJoyEvent) == 8);

enum : uint8_t {
  VL_JS_EVENT_BUTTON = 0x01,
  VL_JS_EVENT_AXIS = 0x02,
  VL_JS_EVENT_INIT = 0x80,
};

enum : int {
  VL_JOY_UP = 0,
  VL_JOY_UP_RIGHT = 1,
  VL_JOY_RIGHT = 2,
  VL_JOY_DOWN_RIGHT = 3,
  VL_JOY_DOWN = 4,
  VL_JOY_DOWN_LEFT = 5,
  VL_JOY_LEFT = 6,
  VL_JOY_UP_LEFT = 7,
  VL_JOY_CENTRE = 8,
};

// Scans the devices on the first call; count (may be null) receives the
// number of records. 0 or ERR_MEM.
int OpenJoysticks(int* count);
// Reads every device's pending events into its record.
void PollJoysticks();
// Opens the devices on first use; 0 or ERR_NOJOYATPORT. direction and
// buttons may be null.
int ReadJoystick(int port, int* direction, uint32_t* buttons);
void CloseJoysticks();

// Applies whole events from bytes to record; a trailing part event is
// ignored.
void ApplyJoystickEvents(vlJoystick* record, const uint8_t* bytes, size_t size);
// The direction of an axis pair.
int JoystickDirection(int32_t x, int32_t y);
// The device directories scanned in turn, each a printf pattern taking the
// device number; the system's are "/dev/input/js%d" and "/dev/js%d". Takes
// effect at the next scan (after CloseJoysticks).
void SetJoystickDevicePatterns(const char* primary, const char* fallback);
