// Fuzz target: arbitrary bytes as a joystick device's event stream.
#include <cstddef>
#include <cstdint>

#include "platform/joysticks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vlJoystick record{};
  ApplyJoystickEvents(&record, data, size);
  (void)JoystickDirection(record.x, record.y);
  return 0;
}
