// The text library's open routine, its tables and shared settings, and its
// shut-down.
#include "text/text_library.h"

#include <cstring>

#include "display/layer_hooks.h"
#include "runtime/objects.h"
#include "text/font_cache.h"
#include "text/text_attributes.h"
#include "text/text_commands.h"
#include "text/text_objects.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/stack_api.h"

namespace {

vlTextSettings gSettings = {};
int32_t gDefaultEncoding = 0;

const vlCommand kTextCommands[] = {
    {"SetFont", CmdSetFont},
    {"SetFontColor", CmdSetFontColor},
    {"TextHeight", CmdTextHeight},
    {"TextWidth", CmdTextWidth},
    {"ResetTabs", CmdResetTabs},
    {"AddTab", CmdAddTab},
    {"Locate", CmdLocate},
    {"SetMargins", CmdSetMargins},
    {"SetFontStyle", CmdSetFontStyle},
    {"Print", CmdPrint},
    {"NPrint", CmdNPrint},
    {"TextOut", CmdTextOut},
    {"CreateTextObject", CmdCreateTextObject},
    {"DisplayTextObject", CmdDisplayTextObject},
    {"FreeTextObject", CmdFreeTextObject},
    {"InKeyStr", CmdInKeyStr},
    {"TextExtent", CmdTextExtent},
    {"ScaleTextObject", CmdScaleTextObject},
    {"CopyTextObject", CmdCopyTextObject},
    {"RotateTextObject", CmdRotateTextObject},
    {"OpenFont", CmdOpenFont},
    {"CloseFont", CmdCloseFont},
    {"UseFont", CmdUseFont},
    {"GetAvailableFonts", CmdGetAvailableFonts},
    {"FreeGlyphCache", CmdFreeGlyphCache},
    {"SetDefaultEncoding", CmdSetDefaultEncoding},
    {"AddFontPath", CmdAddFontPath},
    {"GetKerningPair", CmdGetKerningPair},
    {nullptr, nullptr},
};

const vlConstant kTextConstants[] = {
    {"NORMAL", nullptr, 1},
    {"BOLD", nullptr, 2},
    {"ITALIC", nullptr, 4},
    {"UNDERLINED", nullptr, 8},
    {"ALL", nullptr, 0},
    {"ALPHANUMERICAL", nullptr, 1},
    {"NUMERICAL", nullptr, 3},
    {"ALPHABETICAL", nullptr, 2},
    {"HEXNUMERICAL", nullptr, 4},
    {"ANTIALIAS", nullptr, 16},
    {"SHADOW", nullptr, 32},
    {"EDGE", nullptr, 64},
    {"SHDWNORTH", nullptr, 0},
    {"SHDWNORTHEAST", nullptr, 1},
    {"SHDWEAST", nullptr, 2},
    {"SHDWSOUTHEAST", nullptr, 3},
    {"SHDWSOUTH", nullptr, 4},
    {"SHDWSOUTHWEST", nullptr, 5},
    {"SHDWWEST", nullptr, 6},
    {"SHDWNORTHWEST", nullptr, 7},
    {"BITMAP_DEFAULT", ":::default_bitmap", 0},
    {"TRUETYPE_DEFAULT", ":::default_truetype", 0},
    {"SANS", ":::default_sans", 0},
    {"SERIF", ":::default_serif", 0},
    {"MONOSPACE", ":::default_mono", 0},
    {"FONTENGINE_NATIVE", nullptr, 0},
    {"FONTENGINE_INBUILT", nullptr, 4},
    {"FONTWEIGHT_THIN", nullptr, 0},
    {"FONTWEIGHT_EXTRALIGHT", nullptr, 40},
    {"FONTWEIGHT_ULTRALIGHT", nullptr, 40},
    {"FONTWEIGHT_LIGHT", nullptr, 50},
    {"FONTWEIGHT_BOOK", nullptr, 75},
    {"FONTWEIGHT_NORMAL", nullptr, 80},
    {"FONTWEIGHT_REGULAR", nullptr, 80},
    {"FONTWEIGHT_MEDIUM", nullptr, 100},
    {"FONTWEIGHT_SEMIBOLD", nullptr, 180},
    {"FONTWEIGHT_DEMIBOLD", nullptr, 180},
    {"FONTWEIGHT_BOLD", nullptr, 200},
    {"FONTWEIGHT_EXTRABOLD", nullptr, 205},
    {"FONTWEIGHT_ULTRABOLD", nullptr, 205},
    {"FONTWEIGHT_HEAVY", nullptr, 210},
    {"FONTWEIGHT_BLACK", nullptr, 210},
    {"FONTWEIGHT_EXTRABLACK", nullptr, 215},
    {"FONTWEIGHT_ULTRABLACK", nullptr, 215},
    {"FONTSLANT_ROMAN", nullptr, 0},
    {"FONTSLANT_ITALIC", nullptr, 100},
    {"FONTSLANT_OBLIQUE", nullptr, 110},
    {"ENCODING_ISO8859_1", nullptr, 0},
    {"ENCODING_UTF8", nullptr, 1},
    {nullptr, nullptr, 0},
};

}  // namespace

vlTextSettings* GetTextSettings() { return &gSettings; }
vlEngineFont* GetCurrentFont() { return gSettings.font; }
int32_t GetDefaultEncoding() { return gDefaultEncoding; }
void SetDefaultEncoding(int32_t encoding) { gDefaultEncoding = encoding; }

int InitDefaultFont() {
  vlEngineFont* font;
  if (int status = GetInbuiltFont(&font)) return status;
  gSettings.font = font;
  return 0;
}

namespace {

// Colour-font strikes opened while resources were preloaded wait as pixels
// until the screen's format is known.
int ConvertFontStrikes(vlVMState*, uint32_t) { return ConvertFontStrikeBitmaps(); }

}  // namespace

int OpenTextLib(vlVMState* L) {
  std::memset(&gSettings, 0, sizeof gSettings);
  gSettings.style = VL_STYLE_NORMAL;
  gSettings.color = 0xFFFFFF;
  gSettings.shadowColor = 0;
  gSettings.edgeColor = 0x0093DD;
  gSettings.shadowSize = 4;
  gSettings.shadowDirection = 3;
  gSettings.edgeSize = 2;
  gDefaultEncoding = 0;
  int top = vl::GetStackTop(L);
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kTextCommands, 0);
  vl::SetStackTop(L, top);
  if (int status = RegisterLibrary(kTextCommands, "text")) return status;
  vl::RegisterConstants(L, kTextConstants, 0);
  if (int status = InitTextObjects()) return status;
  InstallTextAttributeHooks();
  AddScreenFormatConverter(VL_CONVERT_FONTS, ConvertFontStrikes);
  return RegisterObjectList(&vlFontState.fonts);
}

int FreeTextLibrary(vlVMState* L) {
  FreeAllTextObjects(L);
  FreeFontLists(L);
  gSettings.font = nullptr;
  ShutdownFontEngines();
  return 0;
}
