// The string pattern matcher: character classes, sets, quantifiers, anchors,
// captures, balanced runs and frontiers over byte strings. It knows nothing
// of the VM: errors are left in the match state for the caller to raise.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr int kMaxPatternCaptures = 32;
// Nesting of the recursive matcher; deeper patterns fail with 1135 instead
// of running the native stack out.
inline constexpr int kMaxPatternDepth = 200;

// Capture lengths that are not lengths.
inline constexpr ptrdiff_t kCaptureOpen = -1;
inline constexpr ptrdiff_t kCapturePosition = -2;

struct vlPatternCapture {
  const char* start;
  ptrdiff_t length;  // or kCaptureOpen / kCapturePosition
};

struct vlMatchState {
  const char* subjectStart;
  const char* subjectEnd;
  const char* patternEnd;
  int level;  // captures opened or closed so far
  vlPatternCapture capture[kMaxPatternCaptures];
  int error;  // first pattern error (an error code), 0 while none
  int depth;
  uint64_t steps;
  uint64_t maxSteps;  // 0: no limit; else matching stops (error 1135) past it
};

// Checks the syntax of a whole pattern, so that an error is raised even
// where matching would never reach it: 0, or 1462 (a ")" closing nothing),
// 1463, 1464, 1465 or 1467.
int CheckPattern(const char* pattern, size_t length);

// Prepares a state for matching over subject[0..length).
void InitMatchState(vlMatchState* ms, const char* subject, size_t length, const char* pattern,
                    size_t patternLength);

// Matches the pattern from p against the subject from s: the end of the
// match, or null when there is none or ms->error was set.
const char* MatchPattern(vlMatchState* ms, const char* s, const char* p);

// Searches from subject offset start on (only there when anchored): the
// match's start offset with *end its end offset, or -1 (also on an error).
// Captures are reset before each try.
ptrdiff_t FindPattern(vlMatchState* ms, size_t start, const char* p, bool anchored, size_t* end);

// How a capture reads after a match of [s, e): the whole match (index 0
// without captures), a text, or a position (1-based). 0, or the error code
// (1461 no such capture, 1468 still open).
struct vlCaptureValue {
  const char* text;
  size_t length;
  bool isPosition;
  size_t position;
};
int GetPatternCapture(const vlMatchState* ms, int index, const char* s, const char* e,
                      vlCaptureValue* out);
