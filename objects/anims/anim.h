// Anims: numbered sequences of equally sized frames held as bitmaps, or
// decoded from an open anim source on demand (disk anims). The record, the
// list of all anims, the creation request shared with sprites, frame access
// and the anim command library.
#pragma once
#include <cstdint>

#include "runtime/objects.h"

struct vlBitmap;
struct vlVMState;
struct vlAnimSource;
struct vlLoadedSource;
struct vlBrush;

struct vlAnim {
  // Object head.
  uint32_t type;  // VL_OBJ_ANIM
  int32_t idNumber;
  void* idHandle;
  vlObjectData* data;
  vlAnim* next;
  vlObjectId id() const { return {idNumber, idHandle}; }

  int32_t width, height;  // display size of every frame
  int32_t frameCount;
  uint32_t disk;
  int32_t storedWidth, storedHeight;  // size as held or decoded
  uint32_t scaleMode;
  uint32_t locked;
  uint32_t orphaned;
  int32_t transparentColor;  // -1 none
  uint32_t loadAlpha;
  vlAnimSource* source;
  vlBitmap** bitmaps;
  vlBitmap** masks;
  vlBitmap** alphas;
  uint32_t** pixels;  // frames still waiting to become bitmaps
  char* fileName;
  int32_t* delays;  // milliseconds, -1 unset
  uint32_t deinterlace;
  uintptr_t loader;
  char adapter[256];
  uint32_t loadTransparency;
  uint32_t layerPrivate;  // a copy made for one layer's own frame changes
};

extern vlAnim* vlAnimList;

enum : uint32_t {
  VL_ANIM_FINDUNLOCKED = 1,
  VL_ANIM_FINDORPHANS = 2,
  VL_ANIM_NOLAYERCOPY = 4,
};

// Object kinds of a creation request.
enum : uint32_t {
  VL_KIND_BRUSH = 3,
  VL_KIND_ANIM = 4,
  VL_KIND_TEXTOBJECT = 8,
  VL_KIND_ANIMDISK = 20,
  VL_KIND_SPRITE = 32,
};

// Codes of the error table that have no symbolic name.
inline constexpr int kErrFindAnim = 1176;
inline constexpr int kErrSizeMismatch = 1156;
inline constexpr int kErrFrameLoad = 1270;
inline constexpr int kErrActiveAnim = 1340;
inline constexpr int kErrFindAnimStream = 1341;
inline constexpr int kErrAnimFormat = 1356;
inline constexpr int kErrSpriteLink = 1381;
inline constexpr int kErrSpriteSizes = 1382;
inline constexpr int kErrUnknownAnimFormat = 1488;
inline constexpr int kErrSaveAnim = 1489;
inline constexpr int kErrSaverNoAlpha = 1499;

// What CreateAnimObject makes a new anim or sprite from.
struct vlAnimRequest {
  vlObjectId* newId;
  vlObjectId* sourceId;  // null: from the file below
  uint32_t sourceKind;
  uint32_t targetKind;
  int32_t frameWidth, frameHeight, frameCount, framesPerRow, startX, startY;
  int32_t sourceWidth, sourceHeight, sourceRowLength;
  int32_t argCount;  // below 4: the whole source is one frame; 7 cuts a grid
  uint32_t disk;
  int32_t transparentColor;
  vlLoadedSource* loaded;
  vlBitmap *bitmap, *mask, *alpha;
  vlAnimSource* source;
  const char* fileName;
  void* cacheEntry;
  uint32_t loadAlpha;
  int32_t deinterlace;
  char loaders[256];
  char adapter[256];
  uintptr_t loaderRef;
  uint32_t loadTransparency;
  // Resources are being preloaded: no screen format yet, so frames stay
  // ARGB pixels (the picture's are in loaded) until ConvertAnimFrameBitmaps.
  uint32_t preloading;
  // Sprites made of sprites: the script arguments naming them.
  int firstSpriteArg;
  void* result;  // the new record
};

// What anims, sprites and moves need of a text object: its picture, size,
// the offsets of the picture from the text's origin, and its lock counter.
struct vlTextObjectPicture {
  vlBitmap *bitmap, *mask, *alpha;
  int32_t width, height;
  int32_t offsetX, offsetY;
  uint32_t* lock;
};
// Set by the text library when it opens; null: there are no text objects
// (the look-up error of a missing object).
using vlTextObjectPictureFn = int (*)(vlVMState* state, vlObjectId id, vlTextObjectPicture* out);
extern vlTextObjectPictureFn vlTextObjectPictureLookup;

int AddAnim(vlObjectId* id, int32_t width, int32_t height, uint32_t** pixels, vlBitmap** bitmaps, vlBitmap** masks,
            vlBitmap** alphas, int32_t frameCount, int32_t transparentColor, uint32_t loadAlpha, uint32_t disk,
            uint32_t deinterlace, vlAnim** out);
int GetAnimByID(vlVMState* state, vlObjectId id, vlAnim** out, uint32_t flags);
int FreeAnimByID(vlVMState* state, vlObjectId id, int strict);
void FreeAnimRecord(vlVMState* state, vlAnim* anim);
// The display draws into this anim.
bool IsActiveAnim(const vlAnim* anim);
// Whether the display draws into any anim named id (orphans too).
bool IsActiveAnimID(vlObjectId id);
// Frame index (0-based) as a bitmap triple; with copy, or for a disk anim,
// the caller owns the result. noScale keeps a disk anim's stored size.
int GetAnimFrameBitmaps(vlAnim* anim, int32_t index, int copy, int noScale, vlBitmap** bitmap, vlBitmap** mask,
                        vlBitmap** alpha);
int32_t GetAnimFrameDelay(vlAnim* anim, int32_t index);
int CopyAnimForLayer(vlVMState* state, vlAnim* anim, vlObjectId* newId, vlAnim** out);
int ChangeAnimFrameCount(vlVMState* state, vlObjectId id, int32_t count, int32_t position, int fromLayer);
void PurgeOrphanAnims(vlVMState* state);
// 1 when some layer of some BGPic shows the anim.
int AnimShownByLayer(const vlAnim* anim);
// Scales every frame triple of the arrays to newWidth x newHeight in place;
// on failure nothing changes.
int ScaleFrames(vlBitmap** bitmaps, vlBitmap** masks, vlBitmap** alphas, int32_t count, int32_t width,
                int32_t height, int32_t newWidth, int32_t newHeight, int32_t mode);
// Frees a frame triple.
void FreeFrameTriple(vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha);

// Loading and creation (anims and sprites).
int LoadAnimObject(vlVMState* state, uint32_t kind);
// As LoadAnimObject; *out gets the new record.
int LoadAnimObjectInto(vlVMState* state, uint32_t kind, void** out);
int CreateAnimObject(vlVMState* state, vlAnimRequest* request);
// One frame of an anim source as ARGB pixels (release them with
// FreeAnimSourceFrame) and, when asked for or when the frame has
// transparency, an alpha plane made from them.
int LoadSourceFramePixels(vlAnimSource* source, int32_t index, uint32_t loadAlpha, uint32_t loadTransparency,
                          const char* fileName, int32_t width, int32_t height, uint32_t** pixels, vlBitmap** alpha);
// A frame's bitmap from ARGB pixels in the screen's format, with a mask
// from the transparent colour unless the frame has an alpha plane.
int FrameBitmapFromPixels(const uint32_t* pixels, int32_t transparent, int32_t width, int32_t height,
                          const vlBitmap* alpha, vlBitmap** bitmap, vlBitmap** mask);
// Makes the bitmap of every frame that waits as pixels and frees the
// pixels (through the source when one is given, which is then closed); the
// first error is returned, the walk goes on.
int ConvertFramePixels(int32_t count, uint32_t** pixels, vlBitmap** bitmaps, vlBitmap** masks, vlBitmap** alphas,
                       int32_t transparent, int32_t width, int32_t height, vlAnimSource** source);
// Frames loaded while resources were preloaded wait as pixels until the
// screen's format is known; this makes their bitmaps (the first error is
// returned, the walk goes on).
int ConvertAnimFrameBitmaps();
// Frame access with the anim-source settings of a decoded frame.
int DecodeSourceFrame(vlAnimSource* source, int32_t index, int32_t transparent, uint32_t loadAlpha,
                      uint32_t loadTransparency, const char* fileName, int32_t width, int32_t height,
                      vlBitmap** bitmap, vlBitmap** mask, vlBitmap** alpha);

// Display-state checks of players and moves (selection kinds, BGPic
// selection, refresh mode).
int CheckPlayState(vlVMState* state);
// The part of them about the drawing target alone.
int CheckSelectionState();

int PlayAnimObject(vlVMState* state, int disk);
// The wait after each frame a foreground player shows, in microseconds: one
// vertical blank (tests that play many frames may set 0).
extern int32_t vlAnimFrameDelayUs;

// What players and moves share: the clock in milliseconds, and the
// async-draw notifications about the layer they draw (a layer leaving the
// BGPic hands over to the one below it; the drawn layer is reported).
struct vlLayer;
int64_t AnimClockMs();
void TrackDrawnLayer(int32_t code, void* argument, vlLayer** layer);

// Saving and streams.
int CmdSaveAnim(vlVMState* state);
int CmdBeginAnimStream(vlVMState* state);
int CmdWriteAnimFrame(vlVMState* state);
int CmdFinishAnimStream(vlVMState* state);
void FreeAnimStreams(vlVMState* state);
int RegisterAnimStreamList();

int OpenAnimLib(vlVMState* state);
void FreeAnimLibrary(vlVMState* state);
// The index by identifier forgets every anim (the list was emptied).
void ForgetAnimIndex();
// GetAttribute's handlers of anims and anim layers.
void InstallAnimAttributeHandlers();
