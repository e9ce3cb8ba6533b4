// Data linked into the program file: the marker block patched with the
// offset of the appended data, the second patch area, and the plug-ins
// that may precede the appended container.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlStartupRecord;
struct vlAppletInfo;

inline constexpr size_t kMarkerBlockSize = 45;
inline constexpr size_t kPatchAreaSize = 372;
inline constexpr uint32_t kNotLinked = 0xDEADC0DE;

// The two blocks as they sit in the program's read-only data.
extern const uint8_t vlMarkerBlock[kMarkerBlockSize];
struct vlPatchAreaBytes {
  uint8_t text[256];   // zero-terminated; all zero until patched
  uint8_t magic[12];
  char banner[104];
};
extern const vlPatchAreaBytes vlPatchArea;

// Offset of the appended data in the program file (0 when nothing is
// linked) and whether a container is linked.
extern uint32_t vlLinkedOffset;
extern uint32_t vlLinked;
// The directory the linked plug-ins were written to ("" when none).
extern char vlLinkedPluginDir[1024];
// The leading text of the patch area.
extern char vlPatchText[256];

// Reads the linked-data offset from a copy of the marker block and sets
// the two globals.
void ReadMarkerBlock(const uint8_t* marker);
// Copies the patch area's leading text into vlPatchText.
void ReadPatchArea(const uint8_t* patch);

// Writes the plug-ins linked at the offset into a new temporary directory;
// afterwards vlLinkedOffset points behind the plug-in block. 0 or a code.
int ExtractLinkedPlugins(const char* programPath, vlStartupRecord* startup, vlAppletInfo* applet,
                         uint32_t offset);
// Removes the extracted plug-ins and their directory.
void RemoveLinkedPluginDir();
