// A small "M.K." module whose timing is known exactly: one instrument (a
// looped square wave) and one pattern played at three song positions, a
// note on row 0 and a pattern break on row 3, so each position lasts 4
// rows of 6 ticks at 125 BPM (0.48 s, 23040 frames at 48000 Hz) and the
// song 1.44 s.
#pragma once

#include <string>

namespace vltest {

inline constexpr unsigned kRowsModuleFrames = 3 * 4 * 6 * 960;

inline std::string RowsModule() {
  std::string m(20, '\0');
  m.replace(0, 4, "rows");
  for (int i = 0; i < 31; ++i) {
    std::string instrument(30, '\0');
    // Length 16 words, volume 64, loop from 0 over 16 words (else none).
    if (i == 0) instrument.replace(22, 8, std::string("\x00\x10\x00\x40\x00\x00\x00\x10", 8));
    else instrument[29] = 1;
    m += instrument;
  }
  m += std::string("\x03\x7f", 2) + std::string(128, '\0') + "M.K.";
  std::string pattern(1024, '\0');
  pattern.replace(0, 4, std::string("\x01\xac\x10\x00", 4));  // row 0: period 428, instrument 1
  pattern.replace((3 * 4 + 1) * 4, 4, std::string("\x00\x00\x0d\x00", 4));  // row 3: D00
  return m + pattern + std::string(16, '\x40') + std::string(16, '\xc0');
}

}  // namespace vltest
