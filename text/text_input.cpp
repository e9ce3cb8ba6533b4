// InKeyStr: a line of keyboard input echoed at the text cursor, each
// character as its own PRINT layer so that backspace can take it away,
// printed once when the input ends.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/layer_hooks.h"
#include "display/commands/layers_library.h"
#include "display/layers/layers.h"
#include "platform/event_pump.h"
#include "platform/x11/x11_input.h"
#include "runtime/error_vm.h"
#include "runtime/event_queue.h"
#include "text/text_commands.h"
#include "text/text_layout.h"
#include "vm/argreaders.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

constexpr size_t kMaxInput = 1024;

enum : int32_t { VL_INKEY_ALL = 0, VL_INKEY_ALNUM = 1, VL_INKEY_ALPHA = 2, VL_INKEY_NUM = 3, VL_INKEY_HEX = 4 };

// Input works on the display itself only.
int CheckInputTarget(const vlDisplay* d) {
  if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
  switch (d->outputType) {
    case VL_OUTPUT_DISPLAY:
      break;
    case VL_OUTPUT_BRUSH:
    case VL_OUTPUT_ANIM:
      return d->outputType == VL_OUTPUT_ANIM || (vlCurrentOutput && vlCurrentOutput->kind == VL_OUTPUT_ANIM)
                 ? ERR_SELECTANIM
                 : ERR_SELECTBRUSH;
    case VL_OUTPUT_MASK:
      return ERR_SELECTMASK;
    case VL_OUTPUT_ALPHA:
      return ERR_SELECTALPHACHANNEL;
    default:
      return ERR_SELECTBG;
  }
  if (vlRefreshSuspended) return ERR_BEGINREFRESH;
  return 0;
}

bool Accepts(int32_t kind, uint32_t c) {
  const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c != 0xD7 && c != 0xF7);
  const bool digit = c >= '0' && c <= '9';
  switch (kind) {
    case VL_INKEY_ALL: return c == ' ' || (c >= 33 && c != 127 && !(c >= 128 && c < 160));
    case VL_INKEY_ALNUM: return letter || digit || c == ' ';
    case VL_INKEY_ALPHA: return letter || c == ' ';
    case VL_INKEY_NUM: return digit;
    case VL_INKEY_HEX: return digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    default: return false;
  }
}

// Removes the most recent layer of the type from the current BGPic.
void RemoveUndoLayer(vlVMState* L, uint32_t type) {
  vlBGPic* pic = vlCurrentOutput;
  if (!pic) return;
  for (int32_t n = CountLayers(pic); n > 0; --n) {
    vlLayer* layer = GetLayerByPos(pic, n);
    if (layer && layer->type == type) {
      DeleteLayer(L, layer, 0, nullptr, nullptr, nullptr, nullptr, nullptr, 1);
      return;
    }
  }
}

struct Input {
  std::string text;
  std::string stars;
  std::vector<std::pair<int32_t, int32_t>> positions;
};

void Echo(vlVMState* L, vlDisplay* d, Input* in, bool password, uint32_t c, int* error) {
  in->positions.push_back({d->cursorX, d->cursorY});
  in->text.push_back(static_cast<char>(c));
  in->stars.push_back('*');
  const char echo[2] = {password ? '*' : static_cast<char>(c), 0};
  if (int status = PrintText(L, echo, true)) *error = status;
}

}  // namespace

int CmdInKeyStr(vlVMState* L) {
  CheckArgs(L, 1, 3, 0, 0);
  const int32_t kind = vl::CheckIntArg(L, 1);
  const int32_t maxLength = vl::OptIntArg(L, 2, 0);
  const bool password = vl::OptIntArg(L, 3, 0) != 0;
  vlDisplay* d = CurrentDisplay();
  if (!d) return ERR_CLOSEDDISPLAY;
  if (int status = CheckInputTarget(d)) return status;

  Input in;
  try {
    in.text.reserve(kMaxInput);
    in.stars.reserve(kMaxInput);
    in.positions.reserve(kMaxInput);
  } catch (...) {
    return ERR_MEM;
  }
  const uint32_t layersWere = d->layersOn;
  const int32_t startX = d->cursorX, startY = d->cursorY;
  d->layersOn = 1;
  int error = 0;
  bool finished = false;
  vlEventQueue* queue = GetEventQueue();
  while (!finished && !error) {
    int pumpError = 0;
    if (PumpEvents(L, 0, 0, &pumpError)) break;  // quit or error: finish as with ENTER
    if (queue) LockMutex(queue->mutex);
    int walked = 0;
    vlEventMsg e;
    while (!finished && !error && GetPendingEvent(walked, &e, 0)) {
      ++walked;
      if (e.type != VL_EVENT_KEY || !e.a) continue;
      uint32_t code = e.c;
      if (code == VL_KEY_BACKSPACE) {
        if (in.text.empty()) continue;
        in.text.pop_back();
        in.stars.pop_back();
        RemoveUndoLayer(L, VL_LAYER_PRINT);
        d->cursorX = in.positions.back().first;
        d->cursorY = in.positions.back().second;
        in.positions.pop_back();
        continue;
      }
      if (code == VL_KEY_ENTER || code == VL_KEY_RETURN) {
        d->cursorX = d->marginLeft;
        d->cursorY += GetCurrentFont() ? GetCurrentFont()->height : 8;
        finished = true;
        continue;
      }
      if (code == VL_KEY_SPACE || code == VL_KEY_TAB) code = ' ';
      if (code > 255) continue;
      if (maxLength > 0 && in.text.size() >= static_cast<size_t>(maxLength)) continue;
      if (!Accepts(kind, code)) continue;
      if (in.text.size() >= kMaxInput) {
        finished = true;
        --walked;  // the key is not taken
        continue;
      }
      Echo(L, d, &in, password, code, &error);
    }
    if (walked) DropPendingEvents(L, walked - 1, 0);
    if (queue) UnlockMutex(queue->mutex);
    if (finished || error) break;
    int result = 0;
    if (int status = WaitForEvents(L, 0, 0, &result)) {
      error = status;
      break;
    }
    if (result == 1) {
      for (size_t i = 0; i < in.text.size(); ++i) RemoveUndoLayer(L, VL_LAYER_PRINT);
      d->layersOn = layersWere;
      return 0;
    }
  }
  for (size_t i = 0; i < in.positions.size(); ++i) RemoveUndoLayer(L, VL_LAYER_PRINT);
  d->layersOn = layersWere;
  if (error) return error;
  d->cursorX = startX;
  d->cursorY = startY;
  const std::string& shown = password ? in.stars : in.text;
  if (int status = PrintText(L, shown.c_str(), true)) return status;
  vl::PushBytes(L, in.text.data(), in.text.size());
  return 1;
}
