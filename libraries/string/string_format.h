// The formatter behind FormatStr: printf-style conversions checked and
// handed one at a time to snprintf, plus the quoting conversion "%q".
// Arguments and output go through callbacks, so it knows nothing of the VM.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlFormatIO {
  void* user;
  // Readers of argument index (2 for the first conversion, then upwards);
  // they may raise, never return a failure.
  double (*number)(void* user, int index);
  int32_t (*integer)(void* user, int index);  // the 32-bit integer argument reading
  const char* (*string)(void* user, int index, size_t* length);
  void (*append)(void* user, const char* bytes, size_t length);
};

// Formats format[0..length) through io. 0, or 1055 for a malformed
// directive or an unknown conversion (output may have been appended).
int FormatString(const char* format, size_t length, const vlFormatIO& io);
