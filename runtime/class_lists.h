// The loader classes: per capability class, the ordered list of plug-ins
// that serve as image, anim, sound or video loaders or as file and
// directory adapters. The first plug-in added is asked first.
#pragma once
#include <cstdint>

struct vlPluginInfo;

struct vlClassNode {
  vlClassNode* next;
  vlPluginInfo* plugin;
};

// The class codes equal the capability bits.
enum : uint32_t {
  VL_CLASS_IMAGE = 4,
  VL_CLASS_ANIM = 8,
  VL_CLASS_SOUND = 16,
  VL_CLASS_VIDEO = 64,
  VL_CLASS_FILEADAPTER = 16384,
  VL_CLASS_DIRADAPTER = 32768,
};

// The first node of the class's list (null when empty), or null for a code
// that is not a class; *known tells the two apart when given.
vlClassNode* GetLoaderClassList(uint32_t classCode, int* known = nullptr);
// Appends the plug-in: 0; 1055 for a code that is not a class; 1566 (with
// "6.0" as the error argument) when the running script was compiled before
// 6.0; 1000 when memory runs out.
int AddPluginToClassList(vlPluginInfo* plugin, uint32_t classCode);
// Removes every node of the plug-in from the class's list.
void RemovePluginFromClassList(vlPluginInfo* plugin, uint32_t classCode);
// Empties every list (shut-down).
void FreeClassLists();
