// The -HELP output: every row of the option table with its argument and
// help text, under the heading of its group. Depends on the option table
// and the console.
#include "player/cmdline_help.h"

#include <cstdio>
#include <cstring>

#include "player/cmdline.h"
#include "runtime/console.h"

namespace {

struct HelpRow {
  uint32_t id;
  const char* group;  // heading of the group this row opens, or null
  const char* text;
};

// In the option table's order; a group runs to the next heading. A colour
// is shown as 0xRRGGBB first: a shell reads $RRGGBB unquoted as a variable.
constexpr HelpRow kHelp[] = {
    {VL_CLOPT_WINDOW, "Arguments controlling the window style:", "open script in a window (default)"},
    {VL_CLOPT_BORDERLESS, nullptr, "open windows without borders"},
    {VL_CLOPT_SIZEABLE, nullptr, "make windows resizeable"},
    {VL_CLOPT_FIXED, nullptr, "make windows immovable"},
    {VL_CLOPT_NOHIDE, nullptr, "windows have no hide (minimize) gadget"},
    {VL_CLOPT_DISABLEBLANKER, nullptr, "disable the screen blanker while the script runs"},
    {VL_CLOPT_ALLDISPLAYS, nullptr, "apply the display arguments to every display"},
    {VL_CLOPT_OVERRIDEPLACEMENT, nullptr, "do not restore remembered window positions"},
    {VL_CLOPT_FULLSCREEN, "Arguments controlling full screen mode:", "open script in best available full screen mode"},
    {VL_CLOPT_FAKEFULLSCREEN, nullptr, "cover the desktop with a window instead of changing the mode"},
    {VL_CLOPT_MODEREQUESTER, nullptr, "ask for the screen mode in a requester"},
    {VL_CLOPT_ASKDISPLAYMODE, nullptr, "ask whether to open a window or a full screen"},
    {VL_CLOPT_SCRWIDTH, nullptr, "set screen width"},
    {VL_CLOPT_SCRHEIGHT, nullptr, "set screen height"},
    {VL_CLOPT_SCRDEPTH, nullptr, "set screen depth"},
    {VL_CLOPT_MONITOR, nullptr, "open displays on this monitor (from 1)"},
    {VL_CLOPT_HIDEPOINTER, nullptr, "hide the mouse pointer"},
    {VL_CLOPT_NOMODESWITCH, nullptr, "never change the screen mode"},
    {VL_CLOPT_BACKFILL, "Arguments controlling backfill style:", "enable backfill decoration"},
    {VL_CLOPT_STARTCOLOR, nullptr, "set backfill color or gradient start color: 0xRRGGBB, or in quotes"},
    {VL_CLOPT_ENDCOLOR, nullptr, "set gradient end color: 0xRRGGBB, or in quotes"},
    {VL_CLOPT_BRUSHFILE, nullptr, "set image file for texture or picture backfill"},
    {VL_CLOPT_BRUSH, nullptr, "set brush for texture or picture backfill"},
    {VL_CLOPT_SCALEPICTURE, nullptr, "scale backfill image to the screen"},
    {VL_CLOPT_PICXPOS, nullptr, "set x-position of backfill image (defaults to center)"},
    {VL_CLOPT_PICYPOS, nullptr, "set y-position of backfill image (defaults to center)"},
    {VL_CLOPT_PICTRANS, nullptr, "set transparent color for backfill image (defaults to no transparency): 0xRRGGBB, or in quotes"},
    {VL_CLOPT_HIDETITLEBAR, nullptr, "hide the title bar of the backfill window"},
    {VL_CLOPT_AUTOSCALE, "Arguments controlling the scaling engine:", "enable auto scaling engine"},
    {VL_CLOPT_LAYERSCALE, nullptr, "enable layer scaling engine"},
    {VL_CLOPT_SCALEWIDTH, nullptr, "set scaling engine output width"},
    {VL_CLOPT_SCALEHEIGHT, nullptr, "set scaling engine output height"},
    {VL_CLOPT_SMOOTHSCALE, nullptr, "scale with interpolation"},
    {VL_CLOPT_KEEPPROPORTIONS, nullptr, "keep the aspect ratio when scaling"},
    {VL_CLOPT_FITSCALE, nullptr, "fit the scaled display into the screen"},
    {VL_CLOPT_NOSOUND, "Arguments controlling the audio driver:", "disable sound output"},
    {VL_CLOPT_NUMCHANNELS, nullptr, "set number of audio channels"},
    {VL_CLOPT_AUDIODEVICE, nullptr, "set ALSA device (defaults to \"default\")"},
    {VL_CLOPT_REQUIREPLUGINS, "Arguments controlling plugins:", "initialize the specified plugins"},
    {VL_CLOPT_REQUIRETAGS, nullptr, "pass tags to plugins: name[key=value,...]"},
    {VL_CLOPT_SKIPPLUGINS, nullptr, "do not load the specified plugins"},
    {VL_CLOPT_DEBUGDEVICE, "Arguments controlling debugger settings:", "set device for debug output"},
    {VL_CLOPT_DEBUGOUTPUT, nullptr, "enable debug output"},
    {VL_CLOPT_FORCEFLUSH, nullptr, "flush console output after every write"},
    {VL_CLOPT_NODEBUG, nullptr, "do not print warnings of the compiled script"},
    {VL_CLOPT_HELP, "Miscellaneous arguments:", "show this help information"},
    {VL_CLOPT_QUIET, nullptr, "do not print progress information; errors go to standard error, not into a dialog"},
    {VL_CLOPT_TEMPDIR, nullptr, "set directory for temporary files (defaults to /tmp)"},
    {VL_CLOPT_NOCHDIR, nullptr, "do not change into the script's directory"},
    {VL_CLOPT_XSERVER, nullptr, "set X server to connect to"},
    {VL_CLOPT_NOMOUSEHOOK, nullptr, "do not install a mouse hook (for slow X servers)"},
    {VL_CLOPT_SOFTTIMER, nullptr, "use a low-resolution software timer"},
};

const HelpRow* FindHelp(uint32_t id) {
  for (const HelpRow& row : kHelp)
    if (row.id == id) return &row;
  return nullptr;
}

}  // namespace

void PrintCmdLineHelp() {
  PrintConsole("Usage: vellamora-player [arguments] [applet]\n");
  for (const vlCmdLineOption* option = vlCmdLineOptions; option->name; ++option) {
    const HelpRow* help = FindHelp(option->id);
    if (!help) continue;
    if (help->group) PrintConsole("\n%s\n", help->group);
    char usage[64];
    std::snprintf(usage, sizeof usage, "-%s%s%s", option->name, option->placeholder ? " " : "",
                  option->placeholder ? option->placeholder : "");
    if (option->choices)
      PrintConsole("  %-24s %s (%s)\n", usage, help->text, option->choices);
    else
      PrintConsole("  %-24s %s\n", usage, help->text);
  }
}
