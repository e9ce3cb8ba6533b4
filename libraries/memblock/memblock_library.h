// The memblock command library: raw byte blocks a script allocates, fills,
// reads, copies, converts to and from tables and moves to and from files,
// and blocks borrowed over foreign memory or a virtual file.
#pragma once
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlMemoryRecord;

// A memory block (object type 39). A size of 0 stands for a block without
// a size, which no range check limits.
struct vlMemBlock {
  vlObjectNode node;
  int32_t size;
  uint8_t* data;
  uint32_t borrowed;  // 1: the bytes belong to somebody else and are never freed
  // The virtual file the block is over (held while the block lives), or
  // null. Its data and size are taken again at every use: writes through
  // other streams may move or resize them.
  vlMemoryRecord* file;
};

// Registers the commands under "memblock" and the block list. 0 or 1000.
int OpenMemBlockLib(vlVMState* state);
// Frees every block: its owned data, its user data and its record.
void FreeMemBlocks(vlVMState* state);

// The block named by the argument at index: 0, or 1180 (with the number
// kept for the message) for a numbered id and 1041 for a handle.
int FindMemBlock(vlVMState* state, int index, vlMemBlock** out);
// Unlinks and frees the block of that id; the same errors.
int FreeMemBlockByID(vlVMState* state, vlObjectId id);
