// Joystick devices: the scan of the device directories, the non-blocking
// event reader and the direction of a port. Depends on the OS layer only.
#include "platform/joysticks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "runtime/os.h"
#include "vm/error_codes.h"

namespace {

vlJoystick* gJoysticks = nullptr;
bool gOpened = false;
const char* gPrimaryPattern = "/dev/input/js%d";
const char* gFallbackPattern = "/dev/js%d";

int OpenDevice(const char* pattern, int number) {
  if (!pattern) return -1;
  char path[256];
  std::snprintf(path, sizeof path, pattern, number);
  return open(path, O_RDONLY | O_NONBLOCK);
}

int CountJoysticks() {
  int count = 0;
  for (vlJoystick* j = gJoysticks; j; j = j->next) count++;
  return count;
}

constexpr int32_t kAxisThreshold = 16000;

}  // namespace

void SetJoystickDevicePatterns(const char* primary, const char* fallback) {
  gPrimaryPattern = primary;
  gFallbackPattern = fallback;
}

int OpenJoysticks(int* count) {
  if (!gOpened) {
    gOpened = true;
    vlJoystick** tail = &gJoysticks;
    for (int n = 0;; n++) {
      int fd = OpenDevice(gPrimaryPattern, n);
      if (fd < 0) fd = OpenDevice(gFallbackPattern, n);
      if (fd < 0) break;
      auto* record = static_cast<vlJoystick*>(AllocMemory(sizeof(vlJoystick), 1));
      if (!record) {
        close(fd);
        if (count) *count = CountJoysticks();
        return ERR_MEM;
      }
      record->fd = fd;
      *tail = record;
      tail = &record->next;
    }
  }
  if (count) *count = CountJoysticks();
  return 0;
}

void ApplyJoystickEvents(vlJoystick* record, const uint8_t* bytes, size_t size) {
  for (size_t at = 0; at + sizeof(vlJoyEvent) <= size; at += sizeof(vlJoyEvent)) {
    vlJoyEvent event;
    std::memcpy(&event, bytes + at, sizeof event);
    if (event.type & VL_JS_EVENT_BUTTON) {
      if (event.number < 32) {
        uint32_t bit = uint32_t(1) << event.number;
        if (event.value) {
          record->buttons |= bit;
        } else {
          record->buttons &= ~bit;
        }
      }
    } else if (event.type & VL_JS_EVENT_AXIS) {
      // Every axis beyond the first counts as vertical, so a second stick
      // steers too.
      if (event.number == 0) {
        record->x = event.value;
      } else {
        record->y = event.value;
      }
    }
  }
}

void PollJoysticks() {
  for (vlJoystick* j = gJoysticks; j; j = j->next) {
    uint8_t buffer[256];
    for (;;) {
      ssize_t got = read(j->fd, buffer, sizeof buffer);
      if (got <= 0) break;
      // A read too short for one event carries nothing usable.
      ApplyJoystickEvents(j, buffer, size_t(got));
    }
  }
}

int JoystickDirection(int32_t x, int32_t y) {
  bool right = x > kAxisThreshold, left = x < -kAxisThreshold;
  bool down = y > kAxisThreshold, up = y < -kAxisThreshold;
  if (right) return up ? VL_JOY_UP_RIGHT : down ? VL_JOY_DOWN_RIGHT : VL_JOY_RIGHT;
  if (left) return down ? VL_JOY_DOWN_LEFT : up ? VL_JOY_UP_LEFT : VL_JOY_LEFT;
  if (down) return VL_JOY_DOWN;
  if (up) return VL_JOY_UP;
  return VL_JOY_CENTRE;
}

int ReadJoystick(int port, int* direction, uint32_t* buttons) {
  int status = OpenJoysticks(nullptr);
  if (status != 0) return status;
  vlJoystick* j = gJoysticks;
  for (int i = 0; j && i < port; i++) j = j->next;
  if (port < 0 || !j) return ERR_NOJOYATPORT;
  if (direction) *direction = JoystickDirection(j->x, j->y);
  if (buttons) *buttons = j->buttons;
  return 0;
}

void CloseJoysticks() {
  while (gJoysticks) {
    vlJoystick* next = gJoysticks->next;
    close(gJoysticks->fd);
    FreeMemory(gJoysticks);
    gJoysticks = next;
  }
  gOpened = false;
}
