// A spatial index of the layers of one BGPic: the layers whose pictures may
// meet a rectangle of the display, found from a grid of cells instead of a
// walk of the whole stack. Every layer whose place in the stack, drawn
// rectangle, shadow or border may have changed says so (NoteLayerMoved for
// one layer, NoteLayersChanged for anything else); list changes are seen
// through the list-change counter.
#pragma once
#include <cstdint>
#include <vector>

struct vlBGPic;
struct vlLayer;
struct vlRectXYWH;

// The layers of pic (display records) that may meet r, bottom first: every
// layer whose drawn rectangle meets r, every layer with a shadow or border
// and every layer without a display record; hidden layers included. False
// when the index does not answer (few layers, or the index switched off):
// the caller walks the stack.
bool FindLayersMeeting(vlBGPic* pic, const vlRectXYWH& r, std::vector<vlLayer*>* out,
                       std::vector<int32_t>* positions = nullptr);
// The number of layers of pic when the index is current for it, else -1.
int32_t IndexedLayerCount(const vlBGPic* pic);

// A layer's display record moved or changed its size; re-filed at once
// when the index was current, else the index is made again when next used.
void NoteLayerMoved(const vlLayer* layer);
// Any other change of layers' rectangles, records, shadows or borders.
void NoteLayersChanged();

// The bottom layers whose blend the redraw may keep between redraws: a
// move of one of them lowers the level below it, and it or any change
// NoteLayersChanged reports advances the epoch (the kept blend is then
// made again). The level starts at the whole stack after each change.
unsigned long long KeptBlendEpoch();
int32_t KeptBlendLevel();

// Tests: false makes every lookup walk the stack (the index is kept and
// still follows every change).
void SetLayerIndexEnabled(bool on);
// Tests: whether the index, brought up to date, files every layer as a
// fresh index of the same stack would.
bool LayerIndexMatchesStack(vlBGPic* pic);
