// A "M.K." module of known timing: one looped square-wave instrument and
// one pattern played at three song positions, a note on row 0 and a
// pattern break (D00) on row 3: each position lasts 4 rows of 6 ticks at
// 125 BPM (0.48 s, 23040 frames at 48000 Hz), the song 1.44 s.
#pragma once

#include <string>

namespace vltest {

inline constexpr unsigned kRowsModuleFrames = 3 * 4 * 6 * 960;

inline std::string RowsModule() {
  // Instrument 1: 16 words, volume 64, looped over all of them; 2-31 empty.
  std::string m = std::string("rows", 4) + std::string(16 + 22, '\0') + std::string("\x00\x10\x00\x40\x00\x00\x00\x10", 8);
  for (int i = 1; i < 31; ++i) m += std::string(29, '\0') + '\x01';
  std::string pattern(1024, '\0');
  pattern.replace(0, 4, std::string("\x01\xac\x10\x00", 4));              // row 0: period 428, instrument 1
  pattern.replace((3 * 4 + 1) * 4, 4, std::string("\x00\x00\x0d\x00", 4));  // row 3: D00
  return m + std::string("\x03\x7f", 2) + std::string(128, '\0') + "M.K." + pattern + std::string(16, '\x40') +
         std::string(16, '\xc0');
}

}  // namespace vltest
