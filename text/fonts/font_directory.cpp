// The list of installed fonts: the font folders scanned for ".font",
// ".ttf", ".otf", ".ttc" and ".dfont" files, the sfnt name table reader,
// the style words, and a collection face written out as a file of its own.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/chunk_name.h"
#include "runtime/replace_file.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"
#include "vm/text.h"
#include "text/fonts/truetype_font.h"

namespace {

vlFontListEntry* gFontList = nullptr;
bool gFontListBuilt = false;

struct StyleWord {
  const char* word;
  int kind;  // 0 weight, 1 slant
  int32_t value;
};

constexpr StyleWord kStyleWords[] = {
    {"Thin", 0, 0},         {"Extralight", 0, 40},  {"Extra-light", 0, 40}, {"Ultralight", 0, 40},
    {"Ultra-light", 0, 40}, {"Light", 0, 50},       {"Book", 0, 75},        {"Normal", 0, 80},
    {"Regular", 0, 80},     {"Medium", 0, 100},     {"Semibold", 0, 180},   {"Semi-bold", 0, 180},
    {"Semi", 0, 180},       {"Demibold", 0, 180},   {"Demi-bold", 0, 180},  {"Demi", 0, 180},
    {"Bold", 0, 200},       {"Extrabold", 0, 205},  {"Extra-bold", 0, 205}, {"Ultrabold", 0, 205},
    {"Ultra-bold", 0, 205}, {"Heavy", 0, 210},      {"Black", 0, 210},      {"Extrablack", 0, 215},
    {"Extra-black", 0, 215}, {"Ultrablack", 0, 215}, {"Ultra-black", 0, 215}, {"Roman", 1, 0},
    {"Italic", 1, 100},     {"Oblique", 1, 110},
};

bool ReadExact(vlStream* s, void* buffer, int64_t count) { return ReadFileStream(s, buffer, count) == count; }

bool ReadU16(vlStream* s, uint32_t* v) {
  uint8_t b[2];
  if (!ReadExact(s, b, 2)) return false;
  *v = uint32_t{b[0]} << 8 | b[1];
  return true;
}

bool ReadU32(vlStream* s, uint32_t* v) {
  uint8_t b[4];
  if (!ReadExact(s, b, 4)) return false;
  *v = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
  return true;
}

bool Seek(vlStream* s, int64_t at) { return at >= 0 && SeekFileStream(s, at, VL_SEEK_BEGIN) >= 0; }

// One allocation for the record and its strings.
void AddEntry(const char* fullName, const char* path, const char* family, const char* style, uint32_t resOffset,
              uint32_t resLength, uint32_t collectionOffset, uint32_t bitmap, const std::vector<uint8_t>& sizes) {
  for (vlFontListEntry* e = gFontList; e; e = e->next)
    if (CompareNoCase(e->fullName, fullName) == 0) return;
  size_t nFull = std::strlen(fullName) + 1, nPath = std::strlen(path) + 1, nFamily = std::strlen(family) + 1;
  size_t total = sizeof(vlFontListEntry) + nFull + nPath + nFamily + sizes.size();
  auto* e = static_cast<vlFontListEntry*>(AllocMemory(total, 1));
  if (!e) return;
  char* p = reinterpret_cast<char*>(e + 1);
  e->fullName = static_cast<char*>(std::memcpy(p, fullName, nFull));
  e->path = static_cast<char*>(std::memcpy(p += nFull, path, nPath));
  e->family = static_cast<char*>(std::memcpy(p += nPath, family, nFamily));
  p += nFamily;
  e->sizes = sizes.empty() ? nullptr : static_cast<uint8_t*>(std::memcpy(p, sizes.data(), sizes.size()));
  e->sizeCount = static_cast<int32_t>(sizes.size());
  ParseStyleWords(style, &e->weight, &e->slant);
  e->resourceOffset = resOffset;
  e->resourceLength = resLength;
  e->collectionOffset = collectionOffset;
  e->bitmap = bitmap;
  vlFontListEntry** tail = &gFontList;
  while (*tail) tail = &(*tail)->next;
  *tail = e;
}

void AddFace(vlStream* s, const char* path, uint32_t base, uint32_t resOffset, uint32_t resLength,
             uint32_t collectionOffset, int singleEntries) {
  char family[512], style[512];
  if (!ReadSfntNames(s, family, sizeof family, style, sizeof style, base)) return;
  std::string full = family;
  if (*style) full += std::string(" ") + style;
  AddEntry(full.c_str(), path, family, style, resOffset, resLength, collectionOffset, 0, {});
  if (IsRegularStyle(style) && !singleEntries)
    AddEntry(family, path, family, style, resOffset, resLength, collectionOffset, 0, {});
}

void ScanBitmapFont(vlStream* s, const char* path, const char* fileName) {
  uint32_t id, count;
  if (!ReadU16(s, &id)) return;
  std::vector<uint8_t> sizes;
  if (id == 0x0F00 || id == 0x0F02) {
    if (!ReadU16(s, &count)) return;
    for (uint32_t i = 0; i < count; ++i) {
      if (!Seek(s, 4 + int64_t{i} * 260 + 256)) break;
      uint32_t ysize;
      if (!ReadU16(s, &ysize)) break;
      uint8_t v = static_cast<uint8_t>(ysize);
      bool seen = false;
      for (uint8_t z : sizes) seen = seen || z == v;
      if (!seen) sizes.push_back(v);
    }
  } else if (id != 0x0F03) {
    return;
  }
  std::string family(fileName, std::strlen(fileName) - 5);
  AddEntry(family.c_str(), path, family.c_str(), "", 0, 0, 0, id != 0x0F03, sizes);
}

void ScanFontDirectory(const char* directory, int singleEntries) {
  DIR* dir = opendir(directory);
  if (!dir) return;
  while (dirent* d = readdir(dir)) {
    const char* name = d->d_name;
    if (std::strlen(name) < 6) continue;
    std::string path = std::string(directory) + (directory[0] && directory[std::strlen(directory) - 1] != '/' ? "/" : "") + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    const bool isBitmap = EndsWithNoCase(name, ".font"), isTtc = EndsWithNoCase(name, ".ttc");
    const bool isDfont = EndsWithNoCase(name, ".dfont");
    if (!isBitmap && !isTtc && !isDfont && !EndsWithNoCase(name, ".ttf") && !EndsWithNoCase(name, ".otf"))
      continue;
    vlStream* s = OpenFileStream(path.c_str(), VL_MODE_READ, nullptr);
    if (!s) continue;
    if (isBitmap) {
      ScanBitmapFont(s, path.c_str(), name);
    } else if (isTtc) {
      uint32_t tag, version, faces;
      if (ReadU32(s, &tag) && tag == 0x74746366 && ReadU32(s, &version) && ReadU32(s, &faces)) {
        std::vector<uint32_t> offsets;
        for (uint32_t i = 0; i < faces && i < 4096; ++i) {
          uint32_t off;
          if (!ReadU32(s, &off)) break;
          offsets.push_back(off);
        }
        for (uint32_t off : offsets) {
          if (!Seek(s, off)) continue;
          AddFace(s, path.c_str(), 0, 0, 0, off, singleEntries);
        }
      }
    } else if (isDfont) {
      const int64_t size = GetFileStreamSize(s);
      int64_t at = 256;
      while (at + 4 <= size) {
        uint32_t length;
        if (!Seek(s, at) || !ReadU32(s, &length)) break;
        const int64_t data = at + 4;
        if (data > 0xFFFFFFFF) break;
        if (!Seek(s, data)) break;
        AddFace(s, path.c_str(), static_cast<uint32_t>(data), static_cast<uint32_t>(data), length, 0, singleEntries);
        at = data + length;
      }
    } else {
      AddFace(s, path.c_str(), 0, 0, 0, 0, singleEntries);
    }
    CloseFileStream(s);
  }
  closedir(dir);
}

// Writes the collection face at offset as a font file of its own.
bool ExtractCollectionFace(const char* path, uint32_t offset, char* out, size_t outSize) {
  vlStream* in = OpenFileStream(path, VL_MODE_READ, nullptr);
  if (!in) return false;
  bool ok = false;
  uint32_t version, counts;
  std::vector<uint8_t> header;
  if (Seek(in, offset) && ReadU32(in, &version) && ReadU32(in, &counts)) {
    uint32_t tables = counts >> 16;
    header.resize(12 + size_t{tables} * 16);
    ok = Seek(in, offset) && ReadExact(in, header.data(), static_cast<int64_t>(header.size()));
  }
  if (ok && !MakeTempFileName(out, outSize)) ok = false;
  vlReplacement file;
  if (ok && OpenReplacement(&file, out, VL_MODE_WRITE, nullptr)) {
    RemovePath(out);
    ok = false;
  }
  vlStream* o = file.stream;
  if (ok) {
    ok = WriteFileStream(o, header.data(), static_cast<int64_t>(header.size())) ==
         static_cast<int64_t>(header.size());
    const size_t tables = (header.size() - 12) / 16;
    std::vector<uint8_t> data;
    for (size_t t = 0; ok && t < tables; ++t) {
      uint8_t* rec = &header[12 + t * 16];
      uint32_t tOffset = uint32_t{rec[8]} << 24 | uint32_t{rec[9]} << 16 | uint32_t{rec[10]} << 8 | rec[11];
      uint32_t tLength = uint32_t{rec[12]} << 24 | uint32_t{rec[13]} << 16 | uint32_t{rec[14]} << 8 | rec[15];
      int64_t here = SeekFileStream(o, 0, VL_SEEK_CURRENT);
      // Tables start on 4-byte boundaries, as the format wants.
      while (ok && (here & 3)) ok = WriteFileStreamByte(o, 0) && ++here;
      if (!ok || here > 0xFFFFFFFF || tLength > (64u << 20)) {
        ok = false;
        break;
      }
      data.resize(tLength);
      ok = Seek(in, tOffset) && ReadExact(in, data.data(), tLength) &&
           WriteFileStream(o, data.data(), tLength) == static_cast<int64_t>(tLength);
      uint32_t at = static_cast<uint32_t>(here);
      rec[8] = at >> 24;
      rec[9] = at >> 16;
      rec[10] = at >> 8;
      rec[11] = at;
    }
    ok = ok && Seek(o, 0) &&
         WriteFileStream(o, header.data(), static_cast<int64_t>(header.size())) == static_cast<int64_t>(header.size());
    ok = EndReplacement(&file, ok ? 0 : ERR_WRITE) == 0;
    if (!ok) RemovePath(out);
  }
  CloseFileStream(in);
  return ok;
}

}  // namespace

int IsRegularStyle(const char* style) {
  for (const char* w : {"regular", "plain", "normal", "book", "roman"})
    if (CompareNoCase(style, w) == 0) return 1;
  return 0;
}

void ParseStyleWords(const char* style, int32_t* weight, int32_t* slant) {
  *weight = 80;
  *slant = 0;
  std::string words = style ? style : "";
  size_t at = 0;
  while (at < words.size()) {
    size_t end = words.find(' ', at);
    if (end == std::string::npos) end = words.size();
    std::string w = words.substr(at, end - at);
    for (const StyleWord& s : kStyleWords)
      if (!w.empty() && CompareNoCase(w.c_str(), s.word) == 0) (s.kind ? *slant : *weight) = s.value;
    at = end + 1;
  }
}

int ReadSfntNames(vlStream* s, char* family, size_t familySize, char* style, size_t styleSize, uint32_t base) {
  family[0] = style[0] = 0;
  // The table directory is read where the stream stands; the name table's
  // offset counts from base.
  uint32_t v1, v2, tables;
  const int64_t start = SeekFileStream(s, 0, VL_SEEK_CURRENT);
  if (start < 0 || !ReadU16(s, &v1) || !ReadU16(s, &v2) || !ReadU16(s, &tables)) return 0;
  if (!((v1 == 1 && v2 == 0) || (v1 == 0x4F54 && v2 == 0x544F) || (v1 == 0x7472 && v2 == 0x7565))) return 0;
  if (!Seek(s, start + 12)) return 0;
  uint32_t nameOffset = 0;
  bool found = false;
  for (uint32_t i = 0; i < tables && !found; ++i) {
    uint8_t rec[16];
    if (!ReadExact(s, rec, 16)) return 0;
    if (CompareNoCaseN(reinterpret_cast<const char*>(rec), "name", 4) == 0) {
      nameOffset = uint32_t{rec[8]} << 24 | uint32_t{rec[9]} << 16 | uint32_t{rec[10]} << 8 | rec[11];
      found = true;
    }
  }
  uint32_t count, storage;
  if (!found || !Seek(s, int64_t{base} + nameOffset + 2) || !ReadU16(s, &count) || !ReadU16(s, &storage)) return 0;
  static const uint32_t kEnglish[] = {0x0409, 0x0809, 0x0C09, 0x1009, 0x1409, 0x1809, 0x1C09, 0x4009};
  for (uint32_t i = 0; i < count && !(family[0] && style[0]); ++i) {
    uint8_t r[12];
    if (!Seek(s, int64_t{base} + nameOffset + 6 + int64_t{i} * 12) || !ReadExact(s, r, 12)) break;
    uint32_t platform = uint32_t{r[0]} << 8 | r[1], language = uint32_t{r[4]} << 8 | r[5];
    uint32_t id = uint32_t{r[6]} << 8 | r[7], length = uint32_t{r[8]} << 8 | r[9];
    uint32_t offset = uint32_t{r[10]} << 8 | r[11];
    if (id != 1 && id != 2) continue;
    if (platform == 1 && language != 0) continue;
    if (platform == 3 && std::find(std::begin(kEnglish), std::end(kEnglish), language) == std::end(kEnglish)) continue;
    if (length > 511) return 0;
    char raw[512], text[512];
    if (!Seek(s, int64_t{base} + nameOffset + storage + offset) || !ReadExact(s, raw, length)) return 0;
    size_t n = 0;
    for (uint32_t k = 0; k < length; ++k)
      if (raw[k]) text[n++] = raw[k];
    text[n] = 0;
    char* dst = id == 1 ? family : style;
    std::snprintf(dst, id == 1 ? familySize : styleSize, "%s", text);
  }
  return 1;
}

void ScanFontDirectories(int singleEntries) {
  if (gFontListBuilt) return;
  gFontListBuilt = true;
  for (vlFontPathNode* p = vlFontPaths; p; p = p->next) ScanFontDirectory(p->name, singleEntries);
  // The system folders keep their faces in one sub-folder per package.
  for (const char* system : {"/usr/share/fonts/truetype", "/usr/local/share/fonts/truetype"}) {
    ScanFontDirectory(system, singleEntries);
    if (DIR* dir = opendir(system)) {
      std::vector<std::string> subs;
      while (dirent* d = readdir(dir))
        if (d->d_name[0] != '.') subs.push_back(std::string(system) + "/" + d->d_name);
      closedir(dir);
      std::sort(subs.begin(), subs.end());
      for (const std::string& sub : subs) ScanFontDirectory(sub.c_str(), singleEntries);
    }
  }
  if (const char* home = std::getenv("HOME")) ScanFontDirectory((std::string(home) + "/.fonts/truetype").c_str(), singleEntries);
  for (const char* d : {"Fonts", "FONTS", "fonts"}) ScanFontDirectory(d, singleEntries);
}

void FreeFontDirectory() {
  while (gFontList) {
    vlFontListEntry* e = gFontList;
    gFontList = e->next;
    FreeMemory(e);
  }
  gFontListBuilt = false;
}

const vlFontListEntry* GetFontDirectory() { return gFontList; }

const char* FindInstalledFont(const char* fullName, uint32_t* resourceOffset, uint32_t* resourceLength,
                              uint32_t* isTemp, char* buffer, size_t bufferSize) {
  ScanFontDirectories(0);
  *resourceOffset = *resourceLength = *isTemp = 0;
  for (vlFontListEntry* e = gFontList; e; e = e->next) {
    if (e->bitmap || CompareNoCase(e->fullName, fullName) != 0) continue;
    if (e->collectionOffset) {
      if (!ExtractCollectionFace(e->path, e->collectionOffset, buffer, bufferSize)) return nullptr;
      *isTemp = 1;
      return buffer;
    }
    *resourceOffset = e->resourceOffset;
    *resourceLength = e->resourceLength;
    std::snprintf(buffer, bufferSize, "%s", e->path);
    return buffer;
  }
  return nullptr;
}
