// Parsing the require-tags text into a plug-in's tag list. Depends on the
// number parser of the option code.
#include "runtime/require_tags.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/option_text.h"
#include "runtime/preproc.h"
#include "vm/error_codes.h"

namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

int AppendTag(vlPluginTag*** tail, const std::string& key, const std::string& value) {
  bool isTrue = strcasecmp(value.c_str(), "true") == 0;
  bool isFalse = strcasecmp(value.c_str(), "false") == 0;
  double number = isTrue ? 1 : 0;
  bool keepString = !isTrue && !isFalse;
  if (keepString) {
    size_t consumed = 0;
    int error = 0;
    double parsed = ParseNumberString(value.c_str(), &consumed, &error);
    if (!error && !value.empty() && consumed == value.size()) {
      number = parsed;
      keepString = false;
    } else if (!error) {
      number = parsed;
    }
  }
  size_t size = sizeof(vlPluginTag) + key.size() + 1 + (keepString ? value.size() + 1 : 0);
  auto* tag = static_cast<vlPluginTag*>(std::calloc(1, size));
  if (!tag) return ERR_MEM;
  char* texts = reinterpret_cast<char*>(tag + 1);
  std::memcpy(texts, key.c_str(), key.size() + 1);
  tag->key = texts;
  if (keepString) {
    tag->string = texts + key.size() + 1;
    std::memcpy(tag->string, value.c_str(), value.size() + 1);
  }
  tag->number = number;
  **tail = tag;
  *tail = &tag->next;
  return 0;
}

int Fail(vlPluginTag** tags, int code) {
  FreePluginTags(*tags);
  *tags = nullptr;
  return code;
}

}  // namespace

int BuildRequireTags(const char* text, const char* pluginName, vlPluginTag** tags) {
  *tags = nullptr;
  if (!text) return 0;
  vlPluginTag** tail = tags;
  const char* p = text;
  for (;;) {
    const char* open = std::strchr(p, '[');
    if (!open) return 0;
    const char* start = p;
    while (start < open && Blank(*start)) ++start;
    const char* end = open;
    while (end > start && Blank(end[-1])) --end;
    if (start == end) return Fail(tags, ERR_REQUIRETAGFMT);
    for (const char* c = start; c < end; ++c)
      if (Blank(*c)) return Fail(tags, ERR_REQUIRETAGFMT);
    size_t n = static_cast<size_t>(end - start);
    bool ours = std::strlen(pluginName) >= n && strncasecmp(start, pluginName, n) == 0;
    p = open + 1;
    for (;;) {
      while (Blank(*p)) ++p;
      if (!std::isalpha(static_cast<unsigned char>(*p))) return Fail(tags, ERR_REQUIRETAGFMT);
      const char* eq = std::strchr(p, '=');
      if (!eq) return Fail(tags, ERR_REQUIRETAGFMT);
      std::string key(p, eq);
      p = eq + 1;
      while (Blank(*p)) ++p;
      std::string value;
      if (*p == '\'') {
        const char* close = std::strchr(p + 1, '\'');
        if (!close) return Fail(tags, ERR_REQUIRETAGFMT);
        value.assign(p + 1, close);
        p = close + 1;
      } else {
        const char* v = p;
        while (*p && *p != ',' && *p != ']' && !Blank(*p)) ++p;
        if (!*p) return Fail(tags, ERR_REQUIRETAGFMT);
        value.assign(v, p);
      }
      if (ours)
        if (int status = AppendTag(&tail, key, value)) return Fail(tags, status);
      while (Blank(*p)) ++p;
      if (*p == ',') {
        ++p;
        continue;
      }
      if (*p == ']') {
        ++p;
        break;
      }
      return Fail(tags, ERR_REQUIRETAGFMT);
    }
    if (ours) return 0;
  }
}
