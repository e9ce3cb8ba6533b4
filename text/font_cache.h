// Fonts as scripts name them: the shared font cache (one engine font per
// name, size, engine and cache flag), the font objects that OpenFont makes,
// the text library's font commands, the conversion of pending colour-font
// strikes once a display exists, and the library's shut-down.
#pragma once
#include <cstdint>

#include "runtime/objects.h"
#include "text/fonts/engine_font.h"

struct vlVMState;

// A font object (object type 43).
struct vlFontNode {
  vlObjectNode node;
  vlEngineFont* font;  // shared through the cache, never closed with the node
};

struct vlFontCacheEntry {
  vlFontCacheEntry* next;
  char name[1024];  // as handed to the engine
  int32_t size;
  int32_t engine;
  int32_t cacheFlag;
  vlEngineFont* font;
};

struct vlFontLists {
  vlObjectNode* fonts;         // font objects
  vlFontCacheEntry* cache;
};
extern vlFontLists vlFontState;

int LoadFontByName(const char* name, int32_t size, int32_t engine, int32_t cacheFlag, int32_t linkedFlag,
                   vlEngineFont** out);
// Reads name, size and the optional options table from argument first on.
int OpenFontFromArgs(vlVMState* state, int first, vlEngineFont** out);
int GetFontByID(vlObjectId id, vlFontNode** out);
int CloseFontByID(vlVMState* state, vlObjectId id);

// The cached engine font whose vector-font list holds the handle, or null.
vlEngineFont* FindFontByHandle(const void* handle);
// Hands every vector-font node (AllocMemory blocks) of every cached font to
// release (when given), then frees the nodes.
void FreeVectorFontLists(void (*release)(vlVectorFontNode* node));

// Makes the strike bitmap and mask of every cached font that still holds
// pending strike pixels (called once a display exists); the first error
// stops the walk.
int ConvertFontStrikeBitmaps();

// Commands.
int CmdSetFont(vlVMState* state);
int CmdOpenFont(vlVMState* state);
int CmdUseFont(vlVMState* state);
int CmdCloseFont(vlVMState* state);
int CmdFreeGlyphCache(vlVMState* state);
int CmdAddFontPath(vlVMState* state);
int CmdGetAvailableFonts(vlVMState* state);

// Frees the font objects, the cache (closing every engine font) and the
// font path list.
void FreeFontLists(vlVMState* state);
