// Background pictures: the record, the list of all BGPics, adding, finding,
// copying and freeing them, showing one on the current display, and
// selection mode (drawing commands redirected into a BGPic).
#pragma once
#include <cstdint>

#include "display/display.h"
#include "runtime/lists.h"
#include "runtime/objects.h"

struct vlBitmap;
struct vlVMState;
struct vlLoadedSource;
struct vlPluginInfo;
struct vlBGPicButton;

// The backfill a display gave the BGPic it made, so it can be re-made at
// any size.
struct vlBGPicBackfill {
  vlBackfillDesc desc;
  vlBitmap* texture;  // private copy of the texture brush's bitmap
  int32_t textureWidth, textureHeight;
  uint32_t present;
};

struct vlBGPic {
  // Object head.
  uint32_t type;
  int32_t idNumber;
  void* idHandle;
  vlObjectData* data;
  vlObjectId id() const { return {idNumber, idHandle}; }
  void setId(vlObjectId id) {
    idNumber = id.number;
    idHandle = id.handle;
  }
  vlBGPic* next;

  // A source that renders at any size (scalable set), one reference held.
  vlLoadedSource* source;
  // Display, current and loaded triples; planes may be shared.
  vlBitmap* dispBitmap;
  vlBitmap* dispMask;
  vlBitmap* dispAlpha;
  vlBitmap* curBitmap;
  vlBitmap* curMask;
  vlBitmap* curAlpha;
  vlBitmap* loadBitmap;
  vlBitmap* loadMask;
  vlBitmap* loadAlpha;
  int32_t dispWidth, dispHeight;
  int32_t width, height;  // the current triple: the BGPic's size
  int32_t loadWidth, loadHeight;
  int32_t sourceWidth;
  int32_t transparentColor;  // -1 none
  uint32_t* palette;

  vlList layers;  // the layers, back to front (the last node is the topmost)
  void* sprites;       // on-screen sprite nodes
  uint32_t locked;
  uint32_t orphan;
  vlBGPicButton* buttons;
  uint32_t kind;  // 0 real; a selection record: the selected object type
  void* selectObject;
  int32_t selectIndex;
  uint32_t asyncMark;
  uint32_t changed;
  void* clipRegion;
  vlBGPicBackfill backfill;
  uint32_t scalable;
  const vlPluginInfo* loaderWord;  // the loader that read the picture, null built-in
  uint32_t* argb;  // ARGB pixels kept until the screen format is known
};

extern vlBGPic* vlBGPicList;
// The BGPic that drawing commands write into.
extern vlBGPic* vlCurrentOutput;

// Adds a BGPic; id->handle non-zero (the automatic request) becomes the
// record's address. The planes become the record's. 0 or ERR_MEM.
int AddBGPic(vlObjectId* id, uint32_t scalable, int32_t width, int32_t height, int32_t sourceWidth,
             vlLoadedSource* source, vlBitmap* bitmap, uint32_t* argb, int32_t transparentColor, vlBitmap* mask,
             vlBitmap* alpha, const vlBGPicBackfill* backfill, vlBGPic** out);
void InitBGPicRecord(vlBGPic* record, uint32_t kind, void* selectObject, int32_t selectIndex, vlObjectId id,
                     vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int32_t width, int32_t height, int clear);

// Flags: 1 refuse a locked BGPic, 2 also find orphans, 4 with 1: no
// private copies for layers.
int GetBGPicByID(vlVMState* state, vlObjectId id, vlBGPic** out, uint32_t flags);
int FreeBGPicByID(vlVMState* state, vlObjectId id, int mustExist);
void FreeBGPicRecord(vlVMState* state, vlBGPic* pic);
void FreeAllBGPics(vlVMState* state);
// Takes a BGPic out of the list (the caller frees it).
void UnlinkBGPic(vlBGPic* pic);
// A BGPic that layers or a display still show loses its identifier: it
// is known by its own address and marked orphaned; 0 or 1000.
int OrphanBGPic(vlBGPic* pic);
int CloneBGPic(vlVMState* state, vlBGPic* pic, vlObjectId* id, vlBGPic** out);
void SweepOrphanBGPics(vlVMState* state);
// Once the screen format is known: every BGPic held as ARGB pixels gets
// its planes.
int RebuildBGPicBitmaps(vlVMState* state);
// The BGPic is re-made from a vector source at each size; transformed when
// its size is not the source's own.
bool IsVectorBGPic(const vlBGPic* pic);
bool IsTransformedVectorBGPic(const vlBGPic* pic);
// A display shows the BGPic.
vlDisplay* DisplayOfBGPic(const vlBGPic* pic);
// The BGPic is the target of the active selection.
bool IsSelectedBGPic(const vlBGPic* pic);

// Reads an optional trailing {x, y} table; both default to 99999.
void GetOptionalXYTable(vlVMState* state, int index, int32_t* x, int32_t* y);
int ShowBGPicOnDisplay(vlVMState* state, vlObjectId id, int32_t x, int32_t y, int withTransition,
                       vlBitmap** newImage, vlBitmap** oldImage);

// The display draws into output from here on (its selection, or a BGPic
// drawn with its layers); the first entry keeps what the selection changes.
void EnterSelectMode(vlDisplay* display, uint32_t kind, int32_t width, vlBGPic* output);
void LeaveSelectMode(vlVMState* state, vlDisplay* display, int noRefresh);
// The display draws into pic from here on (a double buffer's picture
// starting or ending): the current output at once when the display is the
// current one or while `replaced` (null: none) is the current output.
void SwitchDisplayOutput(vlDisplay* display, vlBGPic* pic, vlBGPic* replaced);
// The selection of the display may be ended (no double buffer holds it).
bool CanEndSelection(const vlDisplay* display);
// A select command that fails ends the previous selection all the same,
// as EndSelect would (what it drew is shown, and the current display draws
// to itself); returns status.
int EndSelectionAndFail(vlVMState* state, int status);

int CmdDisplayBGPic(vlVMState* state);
int CmdSelectBGPic(vlVMState* state);
int CmdEndSelect(vlVMState* state);
int CmdFreeBGPic(vlVMState* state);

// The BGPic's planes are deleted where no other triple shares them.
void DeleteBGPicPlanes(vlBGPic* pic);
