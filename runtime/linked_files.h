// Files linked into the compiled script: the table the container fills as
// it reads its linked-file records, and the mapping from the names a script
// uses to the chunk names that open them.
#pragma once
#include <cstdint>

struct vlVMState;

struct vlLinkedFile {
  vlLinkedFile* next;
  char* name;           // as the script uses it; fonts as "::font:" + font name
  char* containerPath;  // empty: the running script's file
  uint32_t offset;      // from the container's base; 0xFFFFFFFF when held in memory
  uint32_t length;
};

inline constexpr char kLinkedFontPrefix[] = "::font:";

// Appends an entry (the strings are copied): 0, or 1000 out of memory.
int AddLinkedFile(const char* name, const char* containerPath, uint32_t offset, uint32_t length);
vlLinkedFile* GetLinkedFiles();
void FreeLinkedFiles();

// The container's byte offset in its file, or, when the container is held
// in memory, the reference of its virtual-file record.
void SetContainerBase(int64_t base);
int64_t GetContainerBase();
// The running script's file, named by entries with an empty container path.
void SetRunningScriptPath(const char* path);

// The chunk name of the first entry that matches, from one buffer valid
// until the next call; the name itself when nothing matches. With fontMode
// a name is a font name unless it ends in ".ttf" or ".otf"; ".font" is cut.
const char* ResolveLinkedFile(vlVMState* state, const char* name, int fontMode, int* isFontOut);
