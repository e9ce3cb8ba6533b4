// The status record of an open file, a lock or a directory entry, the date
// record in which file adapters report times, and the engine's start date
// that stands in for files that have no dates of their own.
#pragma once
#include <cstdint>
#include <ctime>

#include "abi/plugin_abi.h"

// Protection bits of the engine (owner, group, other).
enum : uint32_t {
  VL_PROT_OWNER_READ = 0x1,
  VL_PROT_OWNER_WRITE = 0x2,
  VL_PROT_OWNER_EXEC = 0x8,
  VL_PROT_GROUP_READ = 0x200,
  VL_PROT_GROUP_WRITE = 0x400,
  VL_PROT_GROUP_EXEC = 0x800,
  VL_PROT_OTHER_READ = 0x1000,
  VL_PROT_OTHER_WRITE = 0x2000,
  VL_PROT_OTHER_EXEC = 0x4000,
};

// What memory streams and linked chunks report as their protection.
inline constexpr uint32_t VL_PROT_VIRTUAL = 15;

struct vlFileStat {
  uint32_t isDirectory;
  uint64_t size;
  uint32_t protection;
  char comment[256];
  uint32_t accessTime;  // seconds since the epoch
  uint32_t modifyTime;
  uint32_t changeTime;
  uint32_t reserved[8];
  uint32_t adapterWords[2];  // passed through from a file adapter
  const char* name;
};

// Seconds since the epoch of a local date (0 for a date mktime refuses).
uint32_t DateRecordToTime(const vlDateRecord& date);

// The date the engine started, taken once (the event queue's creation takes
// it; the first use takes it when that has not happened).
void CaptureStartDateStamp();
const vlDateRecord& GetStartDateStamp();

// Fills a vlFileStat from an adapter's status block.
void ConvertAdapterStat(const vlAdapterStat& in, vlFileStat* out);
