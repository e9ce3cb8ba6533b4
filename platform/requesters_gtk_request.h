// The request block shared by the main thread and the GTK thread, and the
// dialogs the GTK thread runs from it. The main thread fills the inputs,
// then sets the code; the GTK thread runs the dialog, fills the outputs,
// stores the reply and clears the code last. Internal to the requesters.
#pragma once
#include <X11/Xlib.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/requesters.h"
#include "platform/shared_libs.h"

enum vlGtkRequestCode : int {
  VL_GTKREQ_IDLE = 0,
  VL_GTKREQ_SYSTEM = 1,
  VL_GTKREQ_FILE = 2,
  VL_GTKREQ_PATH = 3,
  VL_GTKREQ_STRING = 4,
  VL_GTKREQ_LIST = 5,
  VL_GTKREQ_FONT = 6,
  VL_GTKREQ_COLOR = 7,
};

struct vlGtkRequest {
  std::atomic<int> code{VL_GTKREQ_IDLE};
  int reply = 0;
  std::string title, body;
  // System requester: buttons text (kind 4 only) and kind 0 to 4.
  std::string buttons;
  int buttonKind = 3, icon = 0;
  // File and path requesters.
  std::string pattern, directory, file;
  int multiple = 0, save = 0;
  std::string resultDirectory, resultFiles;  // files: each part ended by a zero byte
  uint32_t resultCount = 0;
  // String requester (resultText also holds the chosen folder).
  std::string defaultText, resultText;
  int type = 0, maximum = 0, password = 0;
  // List requester.
  std::vector<std::string> choices;
  int defaultIndex = -1, resultIndex = -1;
  // Font requester.
  std::string fontName;
  int fontSize = 0;
  vlFontSpec font{};
  // Colour requester.
  int32_t defaultColor = -1, resultColor = -1;
  // The window the dialog stays in front of (0: none).
  Window transientWindow = 0;
};

extern vlGtkRequest gGtkRequest;

// ISO 8859-1 towards GTK's UTF-8 and back; the text unconverted when the
// conversion fails. GTK thread.
std::string ToGtk(const std::string& text);
std::string FromGtk(const std::string& text);

// Helpers of every dialog: the title, the transient-for hint set when the
// dialog maps; running it (-1 and -4, no answer and closed, give 0; the
// dialog is shown, its children only as they are); and destroying it,
// letting the toolkit take the window away first.
GtkWidget* PrepareDialog(GtkWidget* dialog);
int RunDialog(GtkWidget* dialog);
void DestroyDialog(GtkWidget* dialog);

// The dialogs, run on the GTK thread from gGtkRequest. Each returns the
// reply: -1 when the dialog could not be made.
int RunSystemDialog();
int RunFileDialog();
int RunPathDialog();
int RunStringDialog();
int RunListDialog();
int RunFontDialog();
int RunColorDialog();
