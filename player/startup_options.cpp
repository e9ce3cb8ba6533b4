// Applies the parsed start-up options: display overrides, backfill, audio,
// plug-in lists and debug switches. Numbers go through the one option
// number parser; texts that outlive the parse are copied.
// Depends on the option table, the option-text helpers, the console and
// the platform's temporary directory.
#include "player/startup_options.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "runtime/os.h"
#include "player/cmdline.h"
#include "runtime/console.h"
#include "runtime/option_text.h"
#include "vm/text.h"
#include "vm/convert.h"
#include "vm/error_codes.h"

const vlDisplayModeOption vlDisplayModeOptions[5] = {
    {VL_CLOPT_WINDOW, 1},        {VL_CLOPT_FULLSCREEN, 2},     {VL_CLOPT_FAKEFULLSCREEN, 6},
    {VL_CLOPT_MODEREQUESTER, 4}, {VL_CLOPT_ASKDISPLAYMODE, 3},
};

namespace {

// The platform keeps the temporary directory in a buffer of this size.
constexpr size_t kTempDirSize = 4096;

struct FlagOption {
  uint32_t optionId;
  uint32_t bit;
};

constexpr FlagOption kDisplayFlagOptions[] = {
    {VL_CLOPT_BORDERLESS, 0x1},        {VL_CLOPT_SIZEABLE, 0x2},         {VL_CLOPT_FIXED, 0x4},
    {VL_CLOPT_NOMODESWITCH, 0x8},      {VL_CLOPT_HIDEPOINTER, 0x10},     {VL_CLOPT_NOHIDE, 0x20},
    {VL_CLOPT_AUTOSCALE, 0x40},        {VL_CLOPT_SMOOTHSCALE, 0x80},     {VL_CLOPT_LAYERSCALE, 0x100},
    {VL_CLOPT_KEEPPROPORTIONS, 0x8000}, {VL_CLOPT_FITSCALE, 0x10000},    {VL_CLOPT_DISABLEBLANKER, 0x1000000},
};

struct Options {
  const uintptr_t* words;
  bool Given(uint32_t id) const { return words[id] != 0; }
  const char* Text(uint32_t id) const { return GetOptionText(words, id); }
};

// The number of an option's text, truncated toward zero; percentOut (when
// given) tells whether a '%' follows it.
int ReadNumber(const char* text, double* out, bool* percentOut = nullptr) {
  size_t used = 0;
  int error = 0;
  *out = ParseNumberString(text, &used, &error);
  if (percentOut) *percentOut = !error && text[used] == '%';
  return error;
}

int ReadInt(const char* text, int32_t* out) {
  double d;
  if (int error = ReadNumber(text, &d)) return error;
  *out = vl::DoubleToInt32(d);
  return 0;
}

// Colours are bit patterns ($FFFFFFFF stays all ones).
int ReadColor(const char* text, int32_t* out) {
  double d;
  if (int error = ReadNumber(text, &d)) return error;
  *out = static_cast<int32_t>(vl::DoubleToUInt32Bits(d));
  return 0;
}

// Replaces *slot with a copy of text; false when memory runs out.
bool Keep(char** slot, const char* text, bool splitBars = false) {
  char* copy = nullptr;
  if (splitBars) {
    copy = SplitBars(text);
  } else if (size_t n = std::strlen(text); (copy = static_cast<char*>(std::malloc(n + 1)))) {
    std::memcpy(copy, text, n + 1);
  }
  if (!copy) return false;
  std::free(*slot);
  *slot = copy;
  return true;
}

int ApplyScaling(const Options& o, vlDisplayCmdOverrides* d) {
  if (o.Given(VL_CLOPT_AUTOSCALE) && o.Given(VL_CLOPT_LAYERSCALE)) return ERR_CONSOLEARG;
  if (!o.Given(VL_CLOPT_AUTOSCALE) && !o.Given(VL_CLOPT_LAYERSCALE)) return 0;
  const struct {
    uint32_t id;
    int32_t* slot;
  } sizes[] = {{VL_CLOPT_SCALEWIDTH, &d->scaleWidth}, {VL_CLOPT_SCALEHEIGHT, &d->scaleHeight}};
  for (const auto& s : sizes) {
    if (!o.Given(s.id)) continue;
    double v;
    bool percent;
    if (int error = ReadNumber(o.Text(s.id), &v, &percent)) return error;
    *s.slot = vl::DoubleToInt32(percent ? -v : v);
  }
  return 0;
}

int ApplyScreen(const Options& o, vlDisplayCmdOverrides* d) {
  const struct {
    uint32_t id;
    int32_t* slot;
  } words[] = {{VL_CLOPT_SCRDEPTH, &d->screenDepth},
               {VL_CLOPT_SCRWIDTH, &d->screenWidth},
               {VL_CLOPT_SCRHEIGHT, &d->screenHeight}};
  for (const auto& w : words)
    if (o.Given(w.id))
      if (int error = ReadInt(o.Text(w.id), w.slot)) return error;
  if (o.Given(VL_CLOPT_MONITOR)) {
    int32_t monitor;
    if (int error = ReadInt(o.Text(VL_CLOPT_MONITOR), &monitor)) return error;
    if (monitor < 1) return ERR_MONITORRANGE;
    d->monitor = monitor - 1;
    d->monitorGiven = 1;
  }
  return 0;
}

int BackfillType(const char* word) {
  if (!CompareNoCase(word, "COLOR")) return 1;
  if (!CompareNoCase(word, "RAINBOW") || !CompareNoCase(word, "GRADIENT")) return 2;
  if (!CompareNoCase(word, "TEXTURE")) return 3;
  if (!CompareNoCase(word, "PICTURE")) return 4;
  return 0;
}

int ApplyBackfill(const Options& o, vlBackfillBlock* b) {
  if (!o.Given(VL_CLOPT_BACKFILL)) return 0;
  int type = BackfillType(o.Text(VL_CLOPT_BACKFILL));
  bool brush = o.Given(VL_CLOPT_BRUSH), file = o.Given(VL_CLOPT_BRUSHFILE);
  bool start = o.Given(VL_CLOPT_STARTCOLOR), end = o.Given(VL_CLOPT_ENDCOLOR);
  if (type == 0 || (brush && file) || (type == 1 && !start) || (type == 2 && (!start || !end)) ||
      (type >= 3 && !brush && !file))
    return ERR_BACKFILL;
  b->type = type;
  if (brush)
    if (int error = ReadInt(o.Text(VL_CLOPT_BRUSH), &b->brush)) return error;
  if (file) {
    // A picture name that does not fit is refused, never cut and loaded.
    const char* name = o.Text(VL_CLOPT_BRUSHFILE);
    size_t n = std::strlen(name);
    if (n >= sizeof b->brushFile) return ERR_BACKFILL;
    std::memcpy(b->brushFile, name, n + 1);
  }
  if (start)
    if (int error = ReadColor(o.Text(VL_CLOPT_STARTCOLOR), &b->color)) return error;
  if (end)
    if (int error = ReadColor(o.Text(VL_CLOPT_ENDCOLOR), &b->endColor)) return error;
  if (o.Given(VL_CLOPT_SCALEPICTURE)) b->scalePicture = 1;
  if (o.Given(VL_CLOPT_PICXPOS))
    if (int error = ReadInt(o.Text(VL_CLOPT_PICXPOS), &b->x)) return error;
  if (o.Given(VL_CLOPT_PICYPOS))
    if (int error = ReadInt(o.Text(VL_CLOPT_PICYPOS), &b->y)) return error;
  if (o.Given(VL_CLOPT_PICTRANS))
    if (int error = ReadColor(o.Text(VL_CLOPT_PICTRANS), &b->transColor)) return error;
  return 0;
}

int ApplySettings(const Options& o, vlAppletInfo* applet) {
  vlStartupSettings& s = vlStartup;
  const struct {
    uint32_t id;
    char** slot;
    bool split;
  } texts[] = {
      {VL_CLOPT_SKIPPLUGINS, &s.skipPlugins, true},
      {VL_CLOPT_REQUIREPLUGINS, &s.requirePlugins, true},
      {VL_CLOPT_REQUIRETAGS, &s.requireTags, false},
      {VL_CLOPT_DEBUGDEVICE, &s.debugDevice, false},
      {VL_CLOPT_AUDIODEVICE, &s.audioDevice, false},
  };
  for (const auto& t : texts)
    if (o.Given(t.id) && !Keep(t.slot, o.Text(t.id), t.split)) return ERR_MEM;
  if (o.Given(VL_CLOPT_TEMPDIR)) {
    const char* dir = o.Text(VL_CLOPT_TEMPDIR);
    if (std::strlen(dir) >= kTempDirSize) return ERR_CONSOLEARG;
    SetTempDir(dir);
  }
  if (o.Given(VL_CLOPT_DEBUGOUTPUT)) s.debugOutput = 1;
  if (o.Given(VL_CLOPT_NODEBUG)) s.noDebug = 1;
  if (o.Given(VL_CLOPT_FORCEFLUSH)) vlConsoleForceFlush = true;
  if (o.Given(VL_CLOPT_OVERRIDEPLACEMENT)) s.overridePlacement = 1;
  if (o.Given(VL_CLOPT_NOCHDIR)) s.noChdir = 1;
  if (o.Given(VL_CLOPT_NOMOUSEHOOK)) s.noMouseHook = 1;
  if (o.Given(VL_CLOPT_SOFTTIMER)) s.runtimeFlags |= 1;
  if (o.Given(VL_CLOPT_XSERVER)) {
    const char* name = o.Text(VL_CLOPT_XSERVER);
    size_t n = std::strlen(name);
    if (n >= sizeof applet->overrides.xServer) return ERR_CONSOLEARG;
    std::memcpy(applet->overrides.xServer, name, n + 1);
  }
  return 0;
}

}  // namespace

int ApplyStartupOptions(vlAppletInfo* applet, const uintptr_t* values, vlStartupRecord* startup) {
  const Options o{values};
  vlDisplayCmdOverrides* d = &applet->overrides;

  if (o.Given(VL_CLOPT_HIDETITLEBAR)) d->backfill.hideTitleBar = 1;
  for (const FlagOption& f : kDisplayFlagOptions)
    if (o.Given(f.optionId)) d->flagBits |= f.bit;
  if (o.Given(VL_CLOPT_ALLDISPLAYS)) startup->applyToAllDisplays = 1;
  if (int error = ApplyScaling(o, d)) return error;
  if (int error = ApplyScreen(o, d)) return error;
  if (int error = ApplyBackfill(o, &d->backfill)) return error;

  if (o.Given(VL_CLOPT_QUIET)) startup->quiet = vlStartup.quietGiven = 1;
  if (o.Given(VL_CLOPT_NOSOUND)) startup->noSound = 1;
  if (o.Given(VL_CLOPT_NUMCHANNELS)) {
    int32_t channels;
    if (int error = ReadInt(o.Text(VL_CLOPT_NUMCHANNELS), &channels)) return error;
    if (channels < 1) return ERR_CONSOLEARG;
    startup->numChannels = static_cast<uint32_t>(channels);
  }
  if (int error = ApplySettings(o, applet)) return error;

  bool modeGiven = false;
  for (const vlDisplayModeOption& m : vlDisplayModeOptions) {
    if (!o.Given(m.optionId)) continue;
    if (modeGiven) return ERR_CONSOLEARG;
    d->mode = m.mode;
    modeGiven = true;
  }
  return 0;
}

namespace {

// The argument's option name when it is NAME, as the parser reads it (any
// case, the character after the name dropped); else null. Points at the
// character after the name.
const char* AfterOptionName(const char* arg, const char* name) {
  const size_t length = std::strlen(name);
  if (arg[0] != '-' || CompareNoCaseN(arg + 1, name, length) != 0) return nullptr;
  const char end = arg[1 + length];
  if (std::isalnum(static_cast<unsigned char>(end)) || end == '_') return nullptr;  // another name
  return arg + 1 + length;
}

}  // namespace

void KeepErrorOutputOfArgs(int argc, char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (AfterOptionName(argv[i], "QUIET")) vlStartup.quietGiven = 1;
    const char* end = AfterOptionName(argv[i], "DEBUGDEVICE");
    if (!end || vlStartup.debugDevice) continue;
    const char* value = *end ? end + 1 : i + 1 < argc && argv[i + 1][0] != '-' ? argv[i + 1] : nullptr;
    if (value && *value) Keep(&vlStartup.debugDevice, value);
  }
}
