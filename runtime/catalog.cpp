// Locale catalog files: finding one by language, reading the IFF and the
// text form, and looking a message up by id. Every length in a file is
// checked against the data before it is followed.
// Depends on the file streams, the path joining of the chunk names, the
// platform's language id and program path, and the message table.
#include "runtime/catalog.h"

#include <cstdlib>
#include <cstring>

#include "runtime/os.h"
#include "runtime/paths.h"
#include "runtime/chunk_name.h"
#include "runtime/messages.h"
#include "runtime/stream.h"

const vlLanguageName vlLanguageNames[kLanguageCount] = {
    {"english", "english"},
    {"deutsch", "german"},
    {"nederlands", "dutch"},
    {"italiano", "italian"},
    {"fran\xE7" "ais", "french"},
    {"espa\xF1ol", "spanish"},
    {"portugu\xEAs", "portuguese"},
    {"svenska", "swedish"},
    {"dansk", "danish"},
    {"suomi", "finnish"},
    {"norsk", "norwegian"},
    {"polski", "polish"},
    {"magyar", "hungarian"},
    {"greek", "greek"},
    {"\xC8" "e\xB9tina", "czech"},
    {"t\xFCrk\xE7" "e", "turkish"},
    {"hrvatski", "croatian"},
    {"unknown", "unknown"},
};

namespace {

constexpr size_t kMinIffSize = 101;
constexpr uint32_t kEndId = 0xFFFFFFFFu;
constexpr size_t kPathSize = 1024;

uint32_t ReadBE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void WriteBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

size_t RoundUp4(size_t n) { return (n + 3) & ~size_t{3}; }

// Copies the STRS entries that lie wholly inside the file into a new list
// in which every text is followed by at least one zero byte, ended by the
// id -1. A text whose length is a multiple of 4 has no zero byte of its
// own, and a length may point past the file: both would let a look-up
// read beyond the data.
uint8_t* CopyEntries(const uint8_t* bytes, size_t size, size_t first) {
  size_t total = 4;
  for (size_t pos = first; pos + 8 <= size;) {
    uint32_t id = ReadBE32(bytes + pos);
    size_t len = ReadBE32(bytes + pos + 4);
    if (id == kEndId || len > size - pos - 8) break;
    total += 8 + RoundUp4(len + 1);
    pos += 8 + RoundUp4(len);
  }
  auto* out = static_cast<uint8_t*>(std::calloc(total, 1));
  if (!out) return nullptr;
  uint8_t* w = out;
  for (size_t pos = first; pos + 8 <= size;) {
    uint32_t id = ReadBE32(bytes + pos);
    size_t len = ReadBE32(bytes + pos + 4);
    if (id == kEndId || len > size - pos - 8) break;
    WriteBE32(w, id);
    WriteBE32(w + 4, static_cast<uint32_t>(RoundUp4(len + 1)));
    std::memcpy(w + 8, bytes + pos + 8, len);
    w += 8 + RoundUp4(len + 1);
    pos += 8 + RoundUp4(len);
  }
  WriteBE32(w, kEndId);
  return out;
}

vlCatalog* ParseIff(const uint8_t* bytes, size_t size) {
  if (std::memcmp(bytes + 8, "CTLGFVER", 8) != 0) return nullptr;
  for (size_t pos = 16; pos + 4 <= size; pos += 2) {
    if (std::memcmp(bytes + pos, "STRS", 4) != 0) continue;
    uint8_t* entries = CopyEntries(bytes, size, pos + 8);
    if (!entries) return nullptr;
    auto* c = static_cast<vlCatalog*>(std::calloc(1, sizeof(vlCatalog)));
    if (!c) {
      std::free(entries);
      return nullptr;
    }
    c->data = reinterpret_cast<char*>(entries);
    c->entries = entries;
    return c;
  }
  return nullptr;
}

// Carriage returns are dropped, line feeds end lines, and in a line "\r",
// "\t" and "\n" are escapes; a backslash before any other character stays
// and that character is dropped. A zero byte ends the text.
vlCatalog* ParseText(const uint8_t* bytes, size_t size) {
  char* text = static_cast<char*>(std::malloc(size + 1));
  auto* c = static_cast<vlCatalog*>(std::calloc(1, sizeof(vlCatalog)));
  if (!text || !c) {
    std::free(text);
    std::free(c);
    return nullptr;
  }
  size_t n = 0;
  for (size_t i = 0; i < size && bytes[i]; ++i)
    if (bytes[i] != '\r') text[n++] = static_cast<char>(bytes[i]);
  size_t out = 0;
  for (size_t i = 0; i < n; ++i) {
    char ch = text[i];
    if (ch == '\n') {
      text[out++] = '\0';
    } else if (ch == '\\' && i + 1 < n && text[i + 1] != '\n') {
      char next = text[++i];
      text[out++] = next == 'r' ? '\r' : next == 't' ? '\t' : next == 'n' ? '\n' : '\\';
    } else {
      text[out++] = ch;
    }
  }
  text[out] = '\0';
  c->data = text;
  c->textLength = static_cast<uint32_t>(out);
  return c;
}

}  // namespace

vlCatalog* ParseCatalog(const uint8_t* bytes, size_t size) {
  if (!bytes && size) return nullptr;
  if (size > UINT32_MAX) return nullptr;
  if (size >= kMinIffSize && std::memcmp(bytes, "FORM", 4) == 0) return ParseIff(bytes, size);
  return ParseText(bytes, size);
}

const char* FindCatalogString(const vlCatalog* catalog, int32_t id, const char* def) {
  if (!catalog) return def;
  if (const uint8_t* e = catalog->entries) {
    for (;;) {
      uint32_t entryId = ReadBE32(e);
      if (entryId == kEndId) return def;
      if (entryId == static_cast<uint32_t>(id)) return reinterpret_cast<const char*>(e + 8);
      e += 8 + ReadBE32(e + 4);
    }
  }
  const char* text = catalog->data;
  size_t length = catalog->textLength;
  // An empty file has no first line either.
  if (id < 1) return length ? text : def;
  int32_t seen = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] != '\0') continue;
    if (++seen == id) return i + 1 < length ? text + i + 1 : def;
  }
  return def;
}

void FreeCatalog(vlCatalog* catalog) {
  if (!catalog) return;
  std::free(catalog->data);
  std::free(catalog);
}

vlCatalog* LoadCatalogFor(const char* fileName, int languageId, const char* programDir) {
  if (!fileName || languageId <= kLanguageEnglish || languageId >= kLanguageCount) return nullptr;
  const vlLanguageName& lang = vlLanguageNames[languageId];
  const char* bases[] = {"", programDir};
  for (const char* base : bases) {
    if (!base) continue;
    for (const char* dir : {"Catalogs", "catalogs"}) {
      for (const char* name : {lang.native, lang.english}) {
        char path[kPathSize];
        path[0] = '\0';
        if (std::strlen(base) >= sizeof path) continue;
        std::strcpy(path, base);
        if (!AddPart(path, sizeof path, dir) || !AddPart(path, sizeof path, name) ||
            !AddPart(path, sizeof path, fileName))
          continue;
        vlStream* stream = OpenFileStream(path, VL_MODE_READ | VL_MODE_ADAPTERS, nullptr);
        if (!stream) continue;
        uint8_t* data = nullptr;
        int64_t size = 0;
        int result = ReadWholeFile(path, nullptr, stream, &data, &size, 1, 8);
        CloseFileStream(stream);
        vlCatalog* catalog = result == 0 ? ParseCatalog(data, static_cast<size_t>(size)) : nullptr;
        std::free(data);
        return catalog;
      }
    }
  }
  return nullptr;
}

vlCatalog* LoadCatalog(const char* fileName) {
  int language = GetLocaleLanguage();
  if (language <= kLanguageEnglish || language >= kLanguageCount) return nullptr;
  char programDir[kPathSize];
  GetProgramPath(programDir, sizeof programDir);
  CutFilePart(programDir);
  return LoadCatalogFor(fileName, language, programDir[0] ? programDir : nullptr);
}

namespace {

vlCatalog* gLocaleCatalog = nullptr;

const char* CatalogMessage(int32_t id) { return FindCatalogString(gLocaleCatalog, id, nullptr); }

}  // namespace

void SetLocaleCatalog(vlCatalog* catalog) {
  SetMessageCatalog(nullptr);
  FreeCatalog(gLocaleCatalog);
  gLocaleCatalog = catalog;
  if (catalog) SetMessageCatalog(CatalogMessage);
}

void OpenLocaleCatalog(const char* fileName) { SetLocaleCatalog(LoadCatalog(fileName)); }

void CloseLocaleCatalog() { SetLocaleCatalog(nullptr); }

const char* LookupCatalogString(int32_t id, const char* def) { return FindCatalogString(gLocaleCatalog, id, def); }
