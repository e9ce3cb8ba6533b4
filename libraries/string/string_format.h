// The formatter behind FormatStr: printf-style conversions checked and
// handed one at a time to snprintf, plus the quoting conversion "%q".
// Arguments and output go through callbacks, so it knows nothing of the VM.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "vm/vmstring.h"

// Output collected by the formatter itself: in a block on the C stack, on
// the heap once it outgrows that.
struct vlFormatBuffer {
  size_t used = 0;
  bool spilled = false;
  std::string spill;
  char local[512];

  void Append(const char* bytes, size_t length) {
    if (!spilled && length <= sizeof local - used) {
      vl::CopyBytes(local + used, bytes, length);
      used += length;
      return;
    }
    Spill(bytes, length);
  }
  void Spill(const char* bytes, size_t length);
  const char* Data() const { return spilled ? spill.data() : local; }
  size_t Size() const { return spilled ? spill.size() : used; }
};

struct vlFormatIO {
  void* user;
  // Readers of argument index (2 for the first conversion, then upwards);
  // they may raise, never return a failure.
  double (*number)(void* user, int index);
  int32_t (*integer)(void* user, int index);  // the 32-bit integer argument reading
  const char* (*string)(void* user, int index, size_t* length);
  // Where the output goes: into buffer when there is one (no call per
  // piece), else through append.
  void (*append)(void* user, const char* bytes, size_t length);
  vlFormatBuffer* buffer = nullptr;
};

// Formats format[0..length) through io. 0, or 1055 for a malformed
// directive or an unknown conversion (output may have been appended).
int FormatString(const char* format, size_t length, const vlFormatIO& io);
