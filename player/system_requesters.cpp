// The system library's requester commands: argument checks, the applet's
// title for an empty one, the remembered file and directory, and the
// results as the script sees them. Depends on the requester wrappers of the
// platform layer and the applet record.
#include <cstdlib>
#include <cstring>
#include <string>

#include "display/display.h"
#include "platform/requesters.h"
#include "runtime/error_vm.h"
#include "runtime/option_text.h"
#include "runtime/option_readers.h"
#include "runtime/script_call.h"
#include "runtime/startup_records.h"
#include "player/system_library.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

std::string gLastFile;       // the last path FileRequest returned
std::string gLastDirectory;  // the last directory PathRequest returned

const char* TitleArg(vlVMState* L) {
  const char* title = vl::CheckStringArg(L, 1, nullptr);
  if (*title) return title;
  vlAppletInfo* applet = GetAppletRecord(L);
  return applet ? applet->header[0] : "";
}

bool IsNumberText(const char* text) {
  if (!*text) return true;
  size_t consumed = 0;
  int error = 0;
  ParseNumberString(text, &consumed, &error);
  return !error && consumed == std::strlen(text);
}

// One chosen file as the script gets it; a name too long for any path
// comes back empty.
std::string ChosenPath(const vlFileResult& result, const char* file) {
  std::string path(std::strlen(result.directory ? result.directory : "") + std::strlen(file ? file : "") + 2, '\0');
  if (!JoinFileResultPath(&result, file, path.data(), path.size())) return {};
  path.resize(std::strlen(path.c_str()));
  return path;
}

}  // namespace

int CmdSystemRequest(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  const char* title = TitleArg(L);
  const char* body = vl::CheckStringArg(L, 2, nullptr);
  const char* buttons = vl::CheckStringArg(L, 3, nullptr);
  int32_t icon = vl::OptIntArg(L, 4, 0);
  int32_t result = 0;
  if (int status = ShowSystemRequester(L, CurrentDisplay(), title, body, buttons, icon, 0, &result)) return status;
  vl::PushNumber(L, result);
  return 1;
}

int CmdStringRequest(vlVMState* L) {
  CheckArgs(L, 2, 6, 0, 0);
  const char* title = TitleArg(L);
  const char* body = vl::CheckStringArg(L, 2, nullptr);
  std::string def = vl::OptStringArg(L, 3, "", nullptr);
  int32_t type = vl::OptIntArg(L, 4, 0);
  int32_t maximum = vl::OptIntArg(L, 5, 0);
  int32_t password = vl::OptIntArg(L, 6, 0);
  if ((type != 0 && type != 3) || maximum < 0 || maximum > 1024) return ERR_WRONGUSAGE;
  if (maximum > 0 && def.size() > size_t(maximum)) def.resize(size_t(maximum));
  if (type == 3 && !IsNumberText(def.c_str())) return ERR_WRONGUSAGE;
  char text[1025] = {};
  int status = ShowStringRequester(L, CurrentDisplay(), title, body, def.c_str(), type, maximum, password != 0, 0, text,
                                   sizeof text);
  if (status && status != ERR_USERABORT) return status;
  vl::PushString(L, text);
  vl::PushNumber(L, status ? 0 : 1);
  return 2;
}

int CmdFileRequest(vlVMState* L) {
  CheckArgs(L, 1, 5, 0, 0);
  const char* title = TitleArg(L);
  const char* pattern = vl::OptStringArg(L, 2, "", nullptr);
  int32_t mode = vl::OptIntArg(L, 3, 0);
  std::string directory = vl::OptStringArg(L, 4, "", nullptr);
  std::string file = vl::OptStringArg(L, 5, "", nullptr);
  int32_t plain = mode & ~0x10000;
  if (plain < 0 || plain > 2) return ERR_WRONGUSAGE;
  if (directory.empty() && file.empty() && !gLastFile.empty()) {
    size_t slash = gLastFile.rfind('/');
    directory = slash == std::string::npos ? "" : gLastFile.substr(0, slash + 1);
    file = slash == std::string::npos ? gLastFile : gLastFile.substr(slash + 1);
  }
  vlFileResult result{};
  int status = ShowFileRequester(L, CurrentDisplay(), title, pattern, plain, directory.c_str(), file.c_str(), 0, &result);
  if (status) {
    FreeFileResult(&result);
    return status;
  }
  if (plain == 1) {
    vl::PushNewTable(L);
    if (!result.success || result.count == 0) {
      vl::PushString(L, "");
      vl::RawSetTableIndex(L, -2, 0);
    }
    const char* f = result.files;
    for (uint32_t i = 0; result.success && i < result.count; ++i, f += std::strlen(f) + 1) {
      std::string path = ChosenPath(result, f);
      vl::PushString(L, path.c_str());
      vl::RawSetTableIndex(L, -2, static_cast<int>(i));
      if (i == 0) gLastFile = path;
    }
  } else {
    std::string path = result.success ? ChosenPath(result, result.files) : "";
    if (result.success) gLastFile = path;
    vl::PushString(L, path.c_str());
  }
  FreeFileResult(&result);
  return 1;
}

int CmdPathRequest(vlVMState* L) {
  CheckArgs(L, 1, 3, 0, 0);
  const char* title = TitleArg(L);
  int32_t mode = vl::OptIntArg(L, 2, 0);
  std::string directory = vl::OptStringArg(L, 3, "", nullptr);
  if (mode != 0 && mode != 2) return ERR_WRONGUSAGE;
  if (directory.empty()) directory = gLastDirectory;
  char* chosen = nullptr;
  if (int status = ShowPathRequester(L, CurrentDisplay(), title, mode, directory.c_str(), 0, &chosen)) return status;
  if (chosen) gLastDirectory = chosen;
  vl::PushString(L, chosen ? chosen : "");
  std::free(chosen);
  return 1;
}

int CmdListRequest(vlVMState* L) {
  CheckArgs(L, 3, 4, 0, 0);
  const char* title = TitleArg(L);
  const char* body = vl::CheckStringArg(L, 2, nullptr);
  vl::CheckTableArg(L, 3);
  int32_t def = vl::OptIntArg(L, 4, -1);
  std::string choices;
  for (int i = 0;; ++i) {
    vl::PushNumber(L, i);
    vl::RawGetTableValue(L, 3);
    if (vl::GetTypeAt(L, -1) == VL_TNIL) {
      vl::SetStackTop(L, -2);
      break;
    }
    if (!vl::IsStringAt(L, -1)) return ERR_STRINGEXPECTED;
    const char* text = vl::ToStringAt(L, -1);
    // An empty text would end the list early: it stands as one blank.
    choices += *text ? text : " ";
    choices += '\0';
    vl::SetStackTop(L, -2);
  }
  if (choices.empty()) return ERR_WRONGUSAGE;
  choices += '\0';
  int32_t result = -1;
  if (int status = ShowListRequester(L, CurrentDisplay(), title, body, choices.c_str(), def, 0, &result)) return status;
  vl::PushNumber(L, result);
  return 1;
}

int CmdFontRequest(vlVMState* L) {
  CheckArgs(L, 1, 3, 0, 0);
  const char* title = TitleArg(L);
  const char* name = vl::OptStringArg(L, 2, "", nullptr);
  int32_t size = vl::OptIntArg(L, 3, 0);
  vlFontSpec font{};
  font.weight = 80;
  if (int status = ShowFontRequester(L, CurrentDisplay(), title, name, size, 0, &font)) return status;
  std::string full = font.name;
  if (*font.name) {
    struct Word {
      int32_t weight;
      const char* name;
    };
    static const Word kWeights[] = {{0, "Thin"},    {40, "Extra-Light"}, {50, "Light"},      {75, "Semi-Light"},
                                    {100, "Medium"}, {180, "Semi-Bold"},  {200, "Bold"},       {205, "Extra-Bold"},
                                    {210, "Black"},  {215, "Extra-Black"}};
    for (const Word& w : kWeights)
      if (w.weight == font.weight) full += std::string(" ") + w.name;
    if (font.slant == 100) full += " Italic";
    if (font.slant == 110) full += " Oblique";
  }
  vl::PushNewTable(L);
  SetTableString(L, "name", full.c_str());
  SetTableString(L, "family", font.name);
  SetTableInt(L, "size", font.size);
  SetTableInt(L, "weight", font.weight);
  SetTableInt(L, "slant", font.slant);
  SetTableUnsigned(L, "underline", font.underline);
  SetTableUnsigned(L, "strikeout", font.strikeout);
  SetTableUnsigned(L, "bold", font.bold);
  SetTableUnsigned(L, "italic", font.italic);
  SetTableUnsigned(L, "color", font.color);
  return 1;
}

int CmdColorRequest(vlVMState* L) {
  CheckArgs(L, 1, 2, 0, 0);
  const char* title = TitleArg(L);
  int32_t color = vl::OptIntArg(L, 2, -1);
  int32_t result = -1;
  if (int status = ShowColorRequester(L, CurrentDisplay(), title, color, 0, &result)) return status;
  vl::PushNumber(L, result);
  return 1;
}

void ForgetRequesterPaths() {
  gLastFile.clear();
  gLastDirectory.clear();
}
