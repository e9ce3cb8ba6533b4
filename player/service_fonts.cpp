// The font sub-table and the built-in data: installed faces found by
// family, full name or file name (a collection's face written to a file of
// its own), and the faces the player carries. Depends on the TrueType
// engine's font directory.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "player/service_adapters.h"
#include "text/fonts/truetype_font.h"
#include "vm/text.h"

namespace {

// Regular weight and roman slant when a plug-in leaves them open.
constexpr int32_t kRegularWeight = 80;

bool EndsWithNoCase(const char* text, const char* tail) {
  size_t n = std::strlen(text), m = std::strlen(tail);
  return n >= m && CompareNoCase(text + n - m, tail) == 0;
}

bool IsFontFileName(const char* name) {
  return EndsWithNoCase(name, ".ttf") || EndsWithNoCase(name, ".otf") || EndsWithNoCase(name, ".ttc") ||
         EndsWithNoCase(name, ".dfont");
}

const char* FilePart(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// How far a face is from the slant and weight asked for; a slant that
// differs counts more than any weight difference.
int32_t Distance(const vlFontListEntry* e, int32_t slant, int32_t weight) {
  return (e->slant != slant ? 1000 : 0) + std::abs(e->weight - weight);
}

// The entry a name selects: an equal full name, else the nearest face of
// the family, else (for a file name) the first face of that file.
const vlFontListEntry* SelectEntry(const char* name, int32_t slant, int32_t weight) {
  const vlFontListEntry* best = nullptr;
  int32_t bestDistance = 0;
  const bool fileName = IsFontFileName(name);
  for (const vlFontListEntry* e = GetFontDirectory(); e; e = e->next) {
    if (e->bitmap) continue;
    if (!fileName && CompareNoCase(e->fullName, name) == 0 && slant < 0 && weight < 0) return e;
    bool candidate = fileName ? CompareNoCase(FilePart(e->path), FilePart(name)) == 0
                              : CompareNoCase(e->family, name) == 0 || CompareNoCase(e->fullName, name) == 0;
    if (!candidate) continue;
    int32_t d = Distance(e, slant < 0 ? 0 : slant, weight < 0 ? kRegularWeight : weight);
    if (!best || d < bestDistance) {
      best = e;
      bestDistance = d;
    }
  }
  return best;
}

uint32_t FileSize(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0 || st.st_size < 0 || st.st_size > 0xFFFFFFFFll) return 0;
  return static_cast<uint32_t>(st.st_size);
}

int FindFontFile(const char* name, int32_t slant, int32_t weight, vlFontFile* out) {
  if (!name || !*name || !out) return 0;
  std::memset(out, 0, sizeof *out);
  if (const vlEmbeddedFace* face = FindEmbeddedFace(name)) {
    out->data = face->data;
    out->size = static_cast<uint32_t>(face->size);
    return 1;
  }
  ScanFontDirectories(0);
  const vlFontListEntry* entry = SelectEntry(name, slant, weight);
  if (!entry) return 0;
  uint32_t offset = 0, length = 0, isTemp = 0;
  if (!FindInstalledFont(entry->fullName, &offset, &length, &isTemp, out->path, sizeof out->path)) {
    out->path[0] = 0;
    return 0;
  }
  out->offset = offset;
  out->size = length ? length : FileSize(out->path);
  out->isTemporary = isTemp;
  return 1;
}

vlSvcBuiltinData MakeBuiltinData() {
  static const char* const kNames[3] = {"Bitstream Vera Sans", "Bitstream Vera Serif", "Bitstream Vera Sans Mono"};
  vlSvcBuiltinData data{};
  for (int i = 0; i < 3; ++i) {
    // A face that is missing answers with no bytes rather than a size
    // without an address.
    const vlEmbeddedFace* face = FindEmbeddedFace(kNames[i]);
    data.fonts[i] = face ? face->data : nullptr;
    data.fontSizes[i] = face && face->data ? face->size : 0;
  }
  return data;
}

}  // namespace

const vlSvcFonts kFontServices = {FindFontFile, nullptr, nullptr};
const vlSvcBuiltinData kBuiltinDataServices = MakeBuiltinData();
