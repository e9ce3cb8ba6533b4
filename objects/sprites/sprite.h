// Sprites: multi-frame pictures shown above the layers of the current
// BGPic, in a list of on-screen nodes that the redraw engine draws last.
// The record, the node list and the sprite command library.
#pragma once
#include <cstdint>

#include "runtime/objects.h"

struct vlBitmap;
struct vlVMState;
struct vlAnimSource;
struct vlBGPic;

struct vlSprite {
  // Object head.
  uint32_t type;  // 32
  int32_t idNumber;
  void* idHandle;
  vlObjectData* data;
  vlSprite* next;
  vlObjectId id() const { return {idNumber, idHandle}; }

  int32_t width, height;
  int32_t frameCount;
  uint32_t locked;
  uint32_t orphaned;
  vlSprite** components;  // null-terminated: a sprite showing other sprites' frames
  int32_t transparentColor;
  vlAnimSource* source;
  vlBitmap** bitmaps;
  vlBitmap** masks;
  vlBitmap** alphas;
  uint32_t** pixels;
};

struct vlSpriteNode {
  vlSpriteNode* next;
  int32_t idNumber;
  void* idHandle;
  int32_t x, y, width, height;
  int32_t frame;  // 1-based
  vlSprite* sprite;
  void* owner;  // a playing video's record
  void* clipRegion;
  // A node without a sprite shows this picture (a video's last frame under
  // a display adapter, owned by the video).
  vlBitmap* image;
  // Non-zero marks the node for a redraw of the marked nodes alone; -1
  // leaves it out of every redraw.
  int32_t tag;
};

inline constexpr uint32_t VL_OBJ_SPRITE = 32;

extern vlSprite* vlSpriteList;

int AddSprite(vlObjectId* id, int32_t width, int32_t height, vlAnimSource* source, uint32_t** pixels,
              vlBitmap** bitmaps, vlBitmap** masks, vlBitmap** alphas, int32_t frameCount, int32_t transparentColor,
              vlSprite** components, vlSprite** out);
int GetSpriteByID(vlVMState* state, vlObjectId id, vlSprite** out, uint32_t flags);
int FreeSpriteByID(vlVMState* state, vlObjectId id);
void FreeSpriteLibrary(vlVMState* state);

int AddSpriteNode(vlBGPic* pic, int32_t x, int32_t y, int32_t width, int32_t height, int32_t frame, vlSprite* sprite,
                  void* owner, void* clipRegion, const vlObjectId* id, vlSpriteNode** out);
void FreeSpriteNodes(vlVMState* state, vlBGPic* pic);
// 1 when the rectangle overlaps an on-screen sprite of the BGPic
// (inclusive edges).
int OverlapsSprite(vlBGPic* pic, int32_t x, int32_t y, int32_t width, int32_t height);
// 1 when an on-screen sprite of the BGPic shows a pixel of its current
// frame at the point (a frame without mask covers its whole box).
int SpriteCoversPoint(vlBGPic* pic, int32_t x, int32_t y);
// Unlinks and frees the node owned by owner (a video's) from every BGPic;
// 1 when one was found.
int RemoveSpriteNodeByOwner(const void* owner);
int FindSpriteOnScreen(vlObjectId id, vlSpriteNode** out);
// The sprite's node on the current display's BGPic: removed and its box
// drawn again; 1 when there was one.
int RemoveSpriteFromScreen(vlVMState* state, vlSprite* sprite);
// The same for the nodes of every BGPic (a sprite that goes away); 1 when
// one was removed.
int RemoveSpriteEverywhere(vlVMState* state, vlSprite* sprite);
int ConvertSpriteFrameBitmaps();

// Shows (or moves) the sprite at x, y with frame (1-based; 0 the next).
int PlaceSprite(vlVMState* state, vlSprite* sprite, int32_t x, int32_t y, int32_t frame);
// The display-state checks of the sprite commands.
int CheckSpriteDisplayState();

// The frame's bitmap triple (index 0-based); outputs written only when
// given, nothing beyond the last frame.
void GetSpriteFrameBitmaps(vlSprite* sprite, int32_t index, vlBitmap** bitmap, vlBitmap** mask, vlBitmap** alpha);
int32_t CountSpriteNodes(const vlBGPic* pic);
// Draws the BGPic's sprite nodes that meet the rectangle into dest.
void DrawSpriteNodes(vlBGPic* pic, vlBitmap* dest, int32_t x, int32_t y, int32_t width, int32_t height,
                     int taggedOnly);

int OpenSpriteLib(vlVMState* state);
// GetAttribute's handler of sprites.
void InstallSpriteAttributeHandler();
