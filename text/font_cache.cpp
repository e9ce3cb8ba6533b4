// The font cache, font objects and the font commands of the text library.
#include "text/font_cache.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "graphics/bitmap.h"
#include "runtime/os.h"
#include "runtime/chunk_name.h"
#include "runtime/console.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/file_lock.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "runtime/option_readers.h"
#include "runtime/progress_message.h"
#include "runtime/script_call.h"
#include "vm/text.h"
#include "text/fonts/bitmap_font.h"
#include "text/fonts/truetype_font.h"
#include "text/text_library.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

vlFontLists vlFontState = {};

namespace {

// Opening and finding a font object must not walk every one there is.
vlObjectIndex gFontIndex;

constexpr int kErrFindFont = 1334;
constexpr int kErrFontIsFile = 1335;

struct Alias {
  const char* alias;
  const char* name;
  int32_t engine;  // -1 keeps the caller's
};

constexpr Alias kAliases[] = {
    {":::default_bitmap", "topaz", -1},
    {":::default_truetype", "Bitstream Vera Sans", VL_FONTENGINE_INBUILT},
    {":::default_sans", "Bitstream Vera Sans", VL_FONTENGINE_INBUILT},
    {":::default_serif", "Bitstream Vera Serif", VL_FONTENGINE_INBUILT},
    {":::default_mono", "Bitstream Vera Sans Mono", VL_FONTENGINE_INBUILT},
};

vlEngineFont* FindCached(const char* name, int32_t size, int32_t engine, int32_t cacheFlag) {
  for (vlFontCacheEntry* e = vlFontState.cache; e; e = e->next)
    if (e->cacheFlag == cacheFlag && e->engine == engine && e->size == size && CompareNoCase(e->name, name) == 0)
      return e->font;
  return nullptr;
}

int OpenAndCache(const char* name, int32_t size, int32_t engine, int32_t cacheFlag, int32_t linkedFlag,
                 vlEngineFont** out) {
  if (vlEngineFont* f = FindCached(name, size, engine, cacheFlag)) {
    SetFontScale(f, 1.0, 1.0);
    *out = f;
    return 0;
  }
  vlEngineFont* font;
  if (int status = OpenEngineFont(name, size, engine, cacheFlag, linkedFlag, &font)) return status;
  auto* e = static_cast<vlFontCacheEntry*>(AllocMemory(sizeof(vlFontCacheEntry), 1));
  if (!e) {
    CloseEngineFont(font);
    return ERR_MEM;
  }
  std::snprintf(e->name, sizeof e->name, "%s", name);
  e->size = size;
  e->engine = engine;
  e->cacheFlag = cacheFlag;
  e->font = font;
  // The built-in font keeps its own name.
  if (!IsInbuiltFont(font)) std::snprintf(font->name, sizeof font->name, "%s", name);
  vlFontCacheEntry** tail = &vlFontState.cache;
  while (*tail) tail = &(*tail)->next;
  *tail = e;
  *out = font;
  return 0;
}

int AppendNode(vlObjectNode* node) { return gFontIndex.Append(&vlFontState.fonts, node); }

// What follows the last folder separator; a colon separates nothing in a
// font name.
const char* FontFilePart(const char* name) {
  const char* part = name;
  for (const char* p = name; *p; ++p)
    if (*p == '/' || *p == '\\') part = p + 1;
  return part;
}

}  // namespace

int LoadFontByName(const char* name, int32_t size, int32_t engine, int32_t cacheFlag, int32_t linkedFlag,
                   vlEngineFont** out) {
  char buffer[1024];
  const char* use = name;
  bool aliased = false;
  for (const Alias& a : kAliases) {
    if (std::strcmp(name, a.alias) == 0) {
      use = a.name;
      if (a.engine >= 0) engine = a.engine;
      aliased = true;
      break;
    }
  }
  if (!aliased && !IsChunkName(name)) {
    if (engine != VL_FONTENGINE_INBUILT && FontFilePart(name) != name) return kErrFontIsFile;
    std::snprintf(buffer, sizeof buffer, "%s", name);
    size_t n = std::strlen(buffer);
    if (EndsWithNoCase(buffer, ".font")) buffer[n - 5] = 0;
    use = buffer;
  }
  int status = OpenAndCache(use, size, engine, cacheFlag, linkedFlag, out);
  // A bitmap font name given with the TrueType engine still opens.
  if (status && engine == VL_FONTENGINE_INBUILT)
    status = OpenAndCache(use, size, VL_FONTENGINE_NATIVE, cacheFlag, linkedFlag, out);
  return status;
}

int OpenFontFromArgs(vlVMState* L, int first, vlEngineFont** out) {
  int linked = 0;
  const char* resolved = GetFileNameArg(L, first, 1, &linked);
  // The resolver's buffer is shared: keep a copy across the other readers.
  char name[2048];
  std::snprintf(name, sizeof name, "%s", resolved);
  int32_t size = vl::CheckIntArg(L, first + 1);
  int32_t engine = VL_FONTENGINE_NATIVE, cache = 1;
  if (vl::GetStackTop(L) == first + 2) {
    vl::CheckTableArg(L, first + 2);
    GetTableInt(L, first + 2, "engine", &engine, nullptr);
    GetTableInt(L, first + 2, "cache", &cache, nullptr);
  }
  // The name as the script wrote it: a linked file by its own name, else
  // the file part, so the player's own ":::default_sans" keeps its colons.
  PrintProgressName("Opening font %s", IsChunkName(name) ? GetReadableFileName(name) : FontFilePart(name), 1);
  int status = LoadFontByName(name, size, engine, cache, linked, out);
  // Finish the progress line either way, so later output starts a line of
  // its own.
  if (status) PrintFailed();
  return status;
}

int GetFontByID(vlObjectId id, vlFontNode** out) {
  if (vlObjectNode* n = gFontIndex.First(id)) {
    *out = reinterpret_cast<vlFontNode*>(n);
    return 0;
  }
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return kErrFindFont;
}

int CloseFontByID(vlVMState* L, vlObjectId id) {
  vlFontNode* f;
  if (int status = GetFontByID(id, &f)) return status;
  gFontIndex.Unlink(&vlFontState.fonts, &f->node);
  FreeObjectDataList(L, &f->node.data);
  FreeMemory(f);
  return 0;
}

vlEngineFont* FindFontByHandle(const void* handle) {
  for (vlFontCacheEntry* e = vlFontState.cache; e; e = e->next)
    for (vlVectorFontNode* v = e->font->vectorFonts; v; v = v->next)
      if (v->handle == handle) return e->font;
  return nullptr;
}

void FreeVectorFontLists(void (*release)(vlVectorFontNode* node)) {
  for (vlFontCacheEntry* e = vlFontState.cache; e; e = e->next) {
    while (vlVectorFontNode* v = e->font->vectorFonts) {
      e->font->vectorFonts = v->next;
      if (release) release(v);
      FreeMemory(v);
    }
  }
}

int ConvertFontStrikeBitmaps() {
  // Every cached font, not only those of font objects: a font that SetFont
  // made current needs its strike as much.
  for (vlFontCacheEntry* e = vlFontState.cache; e; e = e->next) {
    vlEngineFont* f = e->font;
    if (!f || !f->pendingStrike) continue;
    int status = BitmapFromARGB(f->pendingStrike, kStrikeKeyColor, f->pendingWidth, f->pendingHeight,
                                f->pendingWidth, 0, 0, 0, &f->strikeBitmap, &f->strikeMask, nullptr);
    if (status) return status;
    std::free(f->pendingStrike);
    f->pendingStrike = nullptr;
  }
  return 0;
}

int CmdSetFont(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vlEngineFont* font;
  if (int status = OpenFontFromArgs(L, 1, &font)) return status;
  vlTextSettings* s = GetTextSettings();
  s->font = font;
  s->style = VL_STYLE_NORMAL;
  PrintDone();
  return 0;
}

int CmdOpenFont(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  vlObjectId id;
  GetObjectIDArgOpt(&id, L, 1);
  const bool automatic = IsAutomaticIdRequest(id);
  if (!automatic && !id.handle) {
    vlFontNode* existing;
    if (GetFontByID(id, &existing) == 0) CloseFontByID(L, id);
  }
  vlEngineFont* font;
  if (int status = OpenFontFromArgs(L, 2, &font)) return status;
  auto* node = static_cast<vlFontNode*>(AllocMemory(sizeof(vlFontNode), 1));
  if (!node) {
    PrintFailed();
    return ERR_MEM;
  }
  node->node.type = VL_OBJ_FONT;
  node->node.idNumber = automatic ? 0 : id.number;
  node->node.idHandle = automatic ? node : id.handle;
  node->font = font;
  if (AppendNode(&node->node)) {
    FreeMemory(node);
    PrintFailed();
    return ERR_MEM;
  }
  PrintDone();
  if (automatic) {
    vl::PushPointer(L, node);
    return 1;
  }
  return 0;
}

int CmdUseFont(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  vlFontNode* f;
  if (int status = GetFontByID(id, &f)) return status;
  vlTextSettings* s = GetTextSettings();
  s->font = f->font;
  s->style = VL_STYLE_NORMAL;
  return 0;
}

int CmdCloseFont(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return CloseFontByID(L, id);
}

int CmdFreeGlyphCache(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  if (vl::CheckIntArg(L, 1) == 0) {
    for (vlFontCacheEntry* e = vlFontState.cache; e; e = e->next) FlushGlyphCache(e->font);
    return 0;
  }
  vlObjectId id;
  GetObjectIDArg(&id, L, 2);
  vlFontNode* f;
  if (int status = GetFontByID(id, &f)) return status;
  for (vlFontCacheEntry* e = vlFontState.cache; e; e = e->next)
    if (e->font == f->font) FlushGlyphCache(e->font);
  return 0;
}

int CmdAddFontPath(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* path = vl::CheckStringArg(L, 1, nullptr);
  for (vlFontPathNode* p = vlFontPaths; p; p = p->next)
    if (CompareNoCase(p->name, path) == 0) return 0;
  vlFileLock* lock = ObtainFileLock(path, 1 /* shared */, nullptr);
  if (!lock) {
    SetErrorArgument(path);
    return ERR_LOCK2;
  }
  char full[1025];
  GetFileLockName(lock, full, sizeof full);
  FreeFileLock(lock);
  size_t n = std::strlen(full) + 1;
  auto* node = static_cast<vlFontPathNode*>(AllocMemory(sizeof(vlFontPathNode) + n, 1));
  if (!node) return ERR_MEM;
  node->name = reinterpret_cast<char*>(node + 1);
  std::memcpy(node->name, full, n);
  vlFontPathNode** tail = &vlFontPaths;
  while (*tail) tail = &(*tail)->next;
  *tail = node;
  FreeFontDirectory();
  return 0;
}

int CmdGetAvailableFonts(vlVMState* L) {
  CheckArgs(L, 0, 0, 0, 0);
  FreeFontDirectory();
  ScanFontDirectories(1);
  vl::PushNewTable(L);
  int table = vl::GetStackTop(L);
  int index = 0;
  for (const vlFontListEntry* e = GetFontDirectory(); e; e = e->next) {
    vl::PushNewTable(L);
    SetTableString(L, "name", e->fullName);
    SetTableString(L, "family", e->family);
    SetTableInt(L, "bitmap", static_cast<int32_t>(e->bitmap));
    SetTableInt(L, "weight", e->weight);
    SetTableInt(L, "slant", e->slant);
    vl::PushNewTable(L);
    int sizes = vl::GetStackTop(L);
    for (int32_t i = 0; i < e->sizeCount; ++i) {
      vl::PushNumber(L, e->sizes[i]);
      vl::RawSetTableIndex(L, sizes, i);
    }
    vl::PushString(L, "sizes");
    vl::InsertTopAt(L, sizes);
    vl::RawSetTableValue(L, sizes - 1);
    vl::RawSetTableIndex(L, table, index++);
  }
  FreeFontDirectory();
  return 1;
}

void FreeFontLists(vlVMState* L) {
  // Vector fonts the vectorgraphics library left behind.
  FreeVectorFontLists(nullptr);
  while (vlObjectNode* n = vlFontState.fonts) {
    vlFontState.fonts = n->next;
    FreeObjectDataList(L, &n->data);
    FreeMemory(n);
  }
  gFontIndex.Clear();
  while (vlFontCacheEntry* e = vlFontState.cache) {
    vlFontState.cache = e->next;
    CloseEngineFont(e->font);
    FreeMemory(e);
  }
  while (vlFontPathNode* p = vlFontPaths) {
    vlFontPaths = p->next;
    FreeMemory(p);
  }
}
