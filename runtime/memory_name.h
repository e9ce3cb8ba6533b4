// Names for blocks of memory, so that code which takes a file name can read
// a block in place. A name is ":::memory" and a counter: it names a block
// only while the block is registered, so a script cannot forge one that
// points anywhere else.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr char kMemoryNamePrefix[] = ":::memory";
inline constexpr size_t kMemoryNamePrefixLength = 9;

// Registers the block and writes its name; 1, or 0 when the buffer is too
// small or memory runs out. The name opens until it is released; the block
// must outlive the streams opened on it.
int MakeMemoryName(char* buffer, size_t bufferSize, const void* address, uint64_t size);
void ReleaseMemoryName(const char* name);

int IsMemoryName(const char* name);
// True, with the block, when the name is registered.
bool FindMemoryName(const char* name, const void** address, uint64_t* size);
