// The console forms of the requesters: each prompts on standard output and
// reads its answer line by line from standard input, asking again after a
// bad answer. End of input cancels, so a closed input never loops; so
// does an end signal. Depends on the C library and the quit request.
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/event_pump.h"
#include "platform/requesters.h"
#include "runtime/blocking.h"
#include "runtime/chunk_name.h"
#include "vm/error_codes.h"

namespace {

// Reads one line of at most 1023 characters without its line end; false
// at end of input. The rest of a longer line is dropped.
bool ReadLine(std::string* line) {
  std::fflush(stdout);
  // An end signal ends the wait (and the requester) wherever it lands.
  if (WaitForInput(stdin, -1) < 0) return false;
  char buffer[1024];
  if (!std::fgets(buffer, sizeof buffer, stdin)) return false;
  size_t n = std::strlen(buffer);
  bool complete = n > 0 && buffer[n - 1] == '\n';
  while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r')) buffer[--n] = 0;
  if (!complete) {
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
    }
  }
  *line = buffer;
  return true;
}

// A whole decimal number from 1 to n, else 0.
int ParseChoice(const std::string& line, int n) {
  if (line.empty() || line.size() > 9) return 0;
  for (char c : line)
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
  int value = std::atoi(line.c_str());
  return value >= 1 && value <= n ? value : 0;
}

// Lists the choices from 1 and asks until one is picked; 0 at end of input.
int AskChoice(const std::vector<std::string>& choices, bool emptyCancels) {
  int n = static_cast<int>(choices.size());
  for (int i = 0; i < n; ++i) std::printf("(%d) %s\n", i + 1, choices[i].c_str());
  for (;;) {
    std::printf("Your choice: ");
    std::string line;
    if (!ReadLine(&line)) return 0;
    if (line.empty() && emptyCancels) return 0;
    if (int value = ParseChoice(line, n)) return value;
    std::printf("Invalid choice. Valid choices between 1 and %d, try again.\n", n);
  }
}

char* CopyText(const std::string& text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

}  // namespace

void FreeFileResult(vlFileResult* result) {
  std::free(result->directory);
  std::free(result->files);
  *result = vlFileResult{};
}

int JoinFileResultPath(const vlFileResult* result, const char* file, char* path, size_t size) {
  const char* directory = result->directory ? result->directory : "";
  if (size == 0 || std::strlen(directory) >= size) return 0;
  std::strcpy(path, directory);
  return AddPart(path, size, file ? file : "");
}

int ConsoleSystemRequest(const char* body, const char* buttons, int32_t* result) {
  std::printf("%s\n", body ? body : "");
  *result = 0;
  if (!buttons || !std::strchr(buttons, '|')) {
    std::fflush(stdout);
    return 0;
  }
  std::string text(buttons, strnlen(buttons, 1023));
  std::vector<std::string> labels;
  for (size_t start = 0;;) {
    size_t bar = text.find('|', start);
    labels.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  int chosen = AskChoice(labels, false);
  // The last button is the negative answer.
  *result = chosen == static_cast<int>(labels.size()) ? 0 : chosen;
  return 0;
}

int ConsoleStringRequest(const char* body, int type, int maximum, char* destination, int destinationSize) {
  for (;;) {
    std::printf("%s: ", body ? body : "");
    std::string line;
    if (!ReadLine(&line)) return ERR_USERABORT;
    if (maximum > 0 && static_cast<int>(line.size()) > maximum) {
      std::printf("String too long, %d characters max. Try again.\n", maximum);
      continue;
    }
    if (type == 3) {
      bool digits = true;
      for (char c : line) digits = digits && std::isdigit(static_cast<unsigned char>(c));
      if (!digits) {
        std::printf("Only numbers accepted, try again.\n");
        continue;
      }
    }
    if (destinationSize > 0) {
      size_t n = line.size() < size_t(destinationSize) - 1 ? line.size() : size_t(destinationSize) - 1;
      std::memcpy(destination, line.data(), n);
      destination[n] = 0;
    }
    return 0;
  }
}

int ConsoleListRequest(const char* body, const char* choices, int32_t* result) {
  std::printf("%s\n", body ? body : "");
  std::vector<std::string> list;
  for (const char* c = choices; c && *c; c += std::strlen(c) + 1) list.emplace_back(c);
  *result = AskChoice(list, true) - 1;
  return 0;
}

int ConsoleFontRequest(vlFontSpec* font) {
  std::printf("Enter font name: ");
  std::string name;
  if (!ReadLine(&name)) name.clear();
  std::snprintf(font->name, sizeof font->name, "%s", name.c_str());
  if (name.empty()) return 0;
  for (;;) {
    std::printf("Enter font size: ");
    std::string line;
    if (!ReadLine(&line)) return 0;
    if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
      font->size = std::atoi(line.c_str());
      return 0;
    }
    std::printf("Error. Invalid size specified.\n");
  }
}

int ConsoleColorRequest(int32_t* result) {
  *result = -1;
  for (;;) {
    std::printf("Enter RGB color in a hexadecimal notation: ");
    std::string line;
    if (!ReadLine(&line) || line.empty()) return 0;
    if (line[0] != '#') {
      std::printf("Error. Color must be prefixed with a '#' character.\n");
      continue;
    }
    bool hex = line.size() == 7;
    for (size_t i = 1; hex && i < line.size(); ++i) hex = std::isxdigit(static_cast<unsigned char>(line[i]));
    if (!hex) {
      std::printf("Error. Color must use be 6 characters (two per red, green, blue).\n");
      continue;
    }
    *result = static_cast<int32_t>(std::strtol(line.c_str() + 1, nullptr, 16));
    return 0;
  }
}

int ConsoleFileRequest(const char* title, int wantDirectory, int save, vlFileResult* result) {
  *result = vlFileResult{};
  for (;;) {
    std::printf("%s: ", title ? title : "");
    std::string line;
    if (!ReadLine(&line) || line.empty()) return 0;
    struct stat st;
    if (stat(line.c_str(), &st) == 0) {
      bool isDirectory = S_ISDIR(st.st_mode);
      if (isDirectory && !wantDirectory) {
        std::printf("%s is a directory, try again.\n", line.c_str());
        continue;
      }
      if (!isDirectory && wantDirectory) {
        std::printf("%s is not a directory, try again.\n", line.c_str());
        continue;
      }
      if (save) {
        std::printf("%s does already exist. Overwrite? (y/n) ", line.c_str());
        std::string answer;
        if (!ReadLine(&answer)) return 0;
        if (answer.empty() || (answer[0] != 'y' && answer[0] != 'Y')) continue;
      }
    } else if (!save) {
      std::printf("%s does not exist, try again.\n", line.c_str());
      continue;
    }
    size_t slash = line.rfind('/');
    std::string directory = slash == std::string::npos ? "" : line.substr(0, slash + 1);
    std::string file = slash == std::string::npos ? line : line.substr(slash + 1);
    if (wantDirectory) {
      directory = line;
      file.clear();
    }
    result->directory = CopyText(directory);
    result->files = static_cast<char*>(std::calloc(file.size() + 2, 1));
    if (!result->directory || !result->files) {
      FreeFileResult(result);
      return ERR_MEM;
    }
    std::memcpy(result->files, file.c_str(), file.size());
    result->count = 1;
    result->success = 1;
    return 0;
  }
}
