// The option table, the command-line and options-file parsers and the
// options file's name. Both parsers cut their own copy of the text into
// tokens in place, so the value array points into buffers it owns.
// Depends on the text folding, the chunk names and the file streams.
#include "player/cmdline.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "runtime/chunk_name.h"
#include "runtime/errors.h"
#include "runtime/stream.h"
#include "vm/text.h"
#include "vm/error_codes.h"

#define SWITCH_ROW(name) {#name, VL_CLOPT_##name, 0, 0, 0, nullptr, nullptr}
#define ARG_ROW(name, placeholder, choices) {#name, VL_CLOPT_##name, 1, 0, 0, placeholder, choices}

const vlCmdLineOption vlCmdLineOptions[kCmdLineOptionCount + 1] = {
    SWITCH_ROW(WINDOW),
    SWITCH_ROW(BORDERLESS),
    SWITCH_ROW(SIZEABLE),
    SWITCH_ROW(FIXED),
    SWITCH_ROW(NOHIDE),
    SWITCH_ROW(DISABLEBLANKER),
    SWITCH_ROW(ALLDISPLAYS),
    SWITCH_ROW(OVERRIDEPLACEMENT),
    SWITCH_ROW(FULLSCREEN),
    SWITCH_ROW(FAKEFULLSCREEN),
    SWITCH_ROW(MODEREQUESTER),
    SWITCH_ROW(ASKDISPLAYMODE),
    ARG_ROW(SCRWIDTH, "<width>", nullptr),
    ARG_ROW(SCRHEIGHT, "<height>", nullptr),
    ARG_ROW(SCRDEPTH, "<depth>", nullptr),
    ARG_ROW(MONITOR, "<num>", nullptr),
    SWITCH_ROW(HIDEPOINTER),
    SWITCH_ROW(NOMODESWITCH),
    ARG_ROW(BACKFILL, "<mode>", "color|gradient|texture|picture"),
    ARG_ROW(STARTCOLOR, "<color>", "$RRGGBB"),
    ARG_ROW(ENDCOLOR, "<color>", "$RRGGBB"),
    ARG_ROW(BRUSHFILE, "<image file>", nullptr),
    ARG_ROW(BRUSH, "<brush id>", nullptr),
    SWITCH_ROW(SCALEPICTURE),
    ARG_ROW(PICXPOS, "<pos>", nullptr),
    ARG_ROW(PICYPOS, "<pos>", nullptr),
    ARG_ROW(PICTRANS, "<color>", "$RRGGBB"),
    SWITCH_ROW(HIDETITLEBAR),
    SWITCH_ROW(AUTOSCALE),
    SWITCH_ROW(LAYERSCALE),
    ARG_ROW(SCALEWIDTH, "<width>", nullptr),
    ARG_ROW(SCALEHEIGHT, "<height>", nullptr),
    SWITCH_ROW(SMOOTHSCALE),
    SWITCH_ROW(KEEPPROPORTIONS),
    SWITCH_ROW(FITSCALE),
    SWITCH_ROW(NOSOUND),
    ARG_ROW(NUMCHANNELS, "<count>", nullptr),
    ARG_ROW(AUDIODEVICE, "<name>", nullptr),
    ARG_ROW(REQUIREPLUGINS, "<list>", nullptr),
    ARG_ROW(REQUIRETAGS, "<list>", nullptr),
    ARG_ROW(SKIPPLUGINS, "<list>", nullptr),
    ARG_ROW(DEBUGDEVICE, "<name>", "console: errors on the terminal, not in a dialog"),
    SWITCH_ROW(DEBUGOUTPUT),
    SWITCH_ROW(FORCEFLUSH),
    SWITCH_ROW(NODEBUG),
    SWITCH_ROW(HELP),
    SWITCH_ROW(QUIET),
    ARG_ROW(TEMPDIR, "<path>", nullptr),
    SWITCH_ROW(NOCHDIR),
    ARG_ROW(XSERVER, "<name>", nullptr),
    SWITCH_ROW(NOMOUSEHOOK),
    SWITCH_ROW(SOFTTIMER),
    {nullptr, 0, 0, 0, 0, nullptr, nullptr},
};

#undef SWITCH_ROW
#undef ARG_ROW

namespace {

constexpr size_t kMaxKeyLength = 127;

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsNameChar(char c) { return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_'; }

char* CopyText(const char* text) {
  size_t n = std::strlen(text);
  char* out = static_cast<char*>(std::malloc(n + 1));
  if (out) std::memcpy(out, text, n + 1);
  return out;
}

// Appends an entry; null when memory runs out.
vlExtraArg* AppendExtra(vlExtraArg** list, const char* name, const char* value) {
  auto* node = static_cast<vlExtraArg*>(std::calloc(1, sizeof(vlExtraArg)));
  if (!node) return nullptr;
  node->name = CopyText(name);
  node->value = value ? CopyText(value) : nullptr;
  if (!node->name || (value && !node->value)) {
    std::free(node->name);
    std::free(node->value);
    std::free(node);
    return nullptr;
  }
  while (*list) list = &(*list)->next;
  *list = node;
  return node;
}

// A switch given in the options file: on for "true", "yes", "on" or a
// non-zero integer.
uintptr_t SwitchValue(const char* value) {
  if (!CompareNoCase(value, "true") || !CompareNoCase(value, "yes") || !CompareNoCase(value, "on")) return 1;
  return std::strtol(value, nullptr, 10) != 0 ? 1 : 0;
}

}  // namespace

const vlCmdLineOption* FindCmdLineOption(const char* name) {
  if (!name) return nullptr;
  for (const vlCmdLineOption* row = vlCmdLineOptions; row->name; ++row)
    if (!CompareNoCase(row->name, name)) return row;
  return nullptr;
}

void FreeOptionValues(vlOptionValues* values) {
  std::free(values->line);
  std::free(values->file);
  std::memset(values, 0, sizeof(*values));
}

const char* GetOptionText(const uintptr_t* words, uint32_t id) {
  if (id >= static_cast<uint32_t>(kOptionValueCount)) return nullptr;
  return reinterpret_cast<const char*>(words[id]);
}

char* JoinArguments(int argc, char* const* argv) {
  size_t total = 1;
  for (int i = 1; i < argc; ++i) total += std::strlen(argv[i]) + 3;
  char* line = static_cast<char*>(std::malloc(total));
  if (!line) return nullptr;
  char* p = line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) *p++ = ' ';
    const char* arg = argv[i];
    size_t n = std::strlen(arg);
    size_t quoteFrom = 0;  // where the quoted part starts; n: nothing quoted
    if (arg[0] == '-') {
      // "-NAME=a value" is one argument: its value is quoted like any other
      // so that its blanks do not cut it into a value and a script name,
      // and a negative number (-PICXPOS=-10) does not read as an option.
      const char* equals = std::strchr(arg, '=');
      const bool quoted = equals && (std::strchr(equals, ' ') || equals[1] == '-');
      quoteFrom = quoted ? static_cast<size_t>(equals + 1 - arg) : n;
    }
    std::memcpy(p, arg, quoteFrom);
    p += quoteFrom;
    if (quoteFrom < n) {
      *p++ = '"';
      std::memcpy(p, arg + quoteFrom, n - quoteFrom);
      p += n - quoteFrom;
      *p++ = '"';
    }
  }
  *p = '\0';
  return line;
}

int ParseCommandLine(vlOptionValues* values, const char* line, vlExtraArg** extras) {
  char* buffer = CopyText(line ? line : "");
  if (!buffer) return ERR_MEM;
  std::free(values->line);
  values->line = buffer;

  char* p = buffer;
  const vlCmdLineOption* waiting = nullptr;  // an option waiting for its argument
  vlExtraArg* waitingExtra = nullptr;        // an unknown name that may take a value
  bool haveScript = false;
  for (;;) {
    while (*p == ' ') ++p;
    if (!*p) return waiting ? ERR_ARGS : 0;
    if (*p == '-') {
      if (waiting) return ERR_ARGS;
      waitingExtra = nullptr;
      char* name = ++p;
      while (IsNameChar(*p)) ++p;
      char ender = *p;
      *p = '\0';  // the character that ends the name is dropped
      if (const vlCmdLineOption* row = FindCmdLineOption(name)) {
        if (row->takesArgument) waiting = row;
        else values->word[row->id] = 1;
      } else if (!(waitingExtra = AppendExtra(extras, name, nullptr))) {
        return ERR_MEM;
      }
      // A name at the very end leaves its option without a value.
      if (!ender) return 0;
      ++p;
      continue;
    }
    char* value;
    if (*p == '"') {
      value = ++p;
      char* close = std::strchr(p, '"');
      if (!close) return ERR_ARGS;
      *close = '\0';
      p = close + 1;
    } else {
      value = p;
      while (*p && *p != ' ') ++p;
      if (*p) *p++ = '\0';
    }
    if (waiting) {
      values->word[waiting->id] = reinterpret_cast<uintptr_t>(value);
      waiting = nullptr;
    } else if (waitingExtra) {
      waitingExtra->value = CopyText(value);
      if (!waitingExtra->value) return ERR_MEM;
      waitingExtra = nullptr;
    } else if (!haveScript) {
      values->word[VL_CLOPT_SCRIPT] = reinterpret_cast<uintptr_t>(value);
      haveScript = true;
    } else {
      return ERR_ARGS;
    }
  }
}

int ParseOptionsText(vlOptionValues* values, const char* text, size_t size, vlExtraArg** extras) {
  size_t length = text ? strnlen(text, size) : 0;
  char* buffer = static_cast<char*>(std::malloc(length + 1));
  if (!buffer) return ERR_MEM;
  if (length) std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  std::free(values->file);
  values->file = buffer;

  char* p = buffer;
  for (;;) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
    if (!*p) return 0;
    if (*p == '#' || *p == '[') {
      while (*p && *p != '\n') ++p;
      continue;
    }
    if (!IsAsciiLetter(*p)) return ERR_INISYNTAX;
    char* key = p;
    while (IsNameChar(*p)) ++p;
    if (static_cast<size_t>(p - key) > kMaxKeyLength) return ERR_INISYNTAX;
    char* keyEnd = p;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != '=') return ERR_INISYNTAX;
    ++p;
    *keyEnd = '\0';
    while (*p == ' ' || *p == '\t') ++p;

    char* value;
    if (*p == '"') {
      value = ++p;
      while (*p && *p != '"' && *p != '\r' && *p != '\n') ++p;
      if (*p != '"') return ERR_INISYNTAX;
      *p++ = '\0';
    } else {
      value = p;
      while (*p && *p != '\r' && *p != '\n') ++p;
      char* end = p;
      while (end > value && (end[-1] == ' ' || end[-1] == '\t')) --end;
      if (*p) ++p;  // past the line end, which the terminator may overwrite
      *end = '\0';
    }

    const vlCmdLineOption* row = FindCmdLineOption(key);
    if (!row) {
      if (!AppendExtra(extras, key, value)) return ERR_MEM;
    } else if (row->takesArgument) {
      values->word[row->id] = reinterpret_cast<uintptr_t>(value);
    } else {
      values->word[row->id] = SwitchValue(value);
    }
  }
}

int GetOptionsFileName(const char* scriptPath, char* buffer, size_t size) {
  if (!size) return 0;
  buffer[0] = '\0';
  if (!scriptPath) return 0;
  char stored[kStartupPathSize];
  const char* path = scriptPath;
  if (IsChunkName(scriptPath)) {
    vlChunkNameParts parts{};
    parts.storedName = stored;
    parts.storedNameSize = sizeof stored;
    if (!ParseChunkName(scriptPath, parts)) return 0;
    path = stored;
  }
  // Only a dot in the file part starts an extension; one in a directory
  // name would point the options file at an unrelated path.
  const char* filePart = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') filePart = p + 1;
  const char* dot = std::strrchr(filePart, '.');
  size_t keep = dot ? static_cast<size_t>(dot - path) : std::strlen(path);
  if (keep + 5 > size) return 0;
  std::memcpy(buffer, path, keep);
  std::memcpy(buffer + keep, ".ini", 5);
  return 1;
}

int ReadOptionsFile(vlOptionValues* values, const char* scriptPath, vlExtraArg** extras) {
  char name[kStartupPathSize + 8];
  if (!GetOptionsFileName(scriptPath, name, sizeof name)) return 0;
  vlStream* stream = OpenFileStream(name, VL_MODE_READ, nullptr);
  if (!stream) {
    // A directory in its place is no missing file: the user meant one.
    struct stat st;
    if (stat(name, &st) != 0 || !S_ISDIR(st.st_mode)) return 0;  // no options file
    SetErrorArgument(name);
    return ERR_READFILE;
  }
  uint8_t* data = nullptr;
  int64_t size = 0;
  int result = ReadWholeFile(name, nullptr, stream, &data, &size, 0, 1);
  CloseFileStream(stream);
  if (result == 0) result = ParseOptionsText(values, reinterpret_cast<const char*>(data), static_cast<size_t>(size), extras);
  std::free(data);
  return result;
}

int ParseStartupOptions(vlStartupRecord* startup, vlOptionValues* values, int argc, char* const* argv, bool linked,
                        bool* needScript) {
  *needScript = false;
  // The usual spellings of a help request ask for the -HELP list; an applet
  // is never named like that, and the file requester is no answer to them.
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      values->word[VL_CLOPT_HELP] = 1;
      return 0;
    }
  char* line = JoinArguments(argc, argv);
  if (!line) return ERR_MEM;
  int result = ParseCommandLine(values, line, &startup->extraArgs);
  std::free(line);
  if (result) return result;

  const char* given = GetOptionText(values->word, VL_CLOPT_SCRIPT);
  if (given) {
    // A script name that does not fit would be cut into another file's name.
    if (std::strlen(given) >= sizeof startup->scriptPath) return ERR_ARGS;
    char* copy = CopyText(given);
    if (!copy) return ERR_MEM;
    std::free(startup->givenName);
    startup->givenName = copy;
    std::strcpy(startup->scriptPath, given);
  }
  if (linked) {
    std::memcpy(startup->scriptPath, startup->programPath, sizeof startup->scriptPath);
    startup->scriptPath[sizeof startup->scriptPath - 1] = '\0';
  } else if (!given) {
    *needScript = true;
    return 0;
  }
  return ReadOptionsFile(values, startup->scriptPath, &startup->extraArgs);
}
