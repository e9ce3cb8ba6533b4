// The declarations a compiled script carries for start-up: resources to
// preload, displays to open, plug-ins to require and warnings to print, in
// container order, with the data each kind declares.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/startup_records.h"

enum vlPreprocSubtype : uint32_t {
  VL_PP_BGPIC = 0,
  VL_PP_BRUSH = 1,
  VL_PP_ANIM = 2,
  VL_PP_MUSIC = 3,
  VL_PP_SAMPLE = 4,
  VL_PP_BUTTON = 5,
  VL_PP_KEY = 6,
  VL_PP_SPRITE = 7,
  VL_PP_FILE = 8,
  VL_PP_FONT = 9,
  VL_PP_DISPLAY = 10,
  VL_PP_VIDEO = 11,
  VL_PP_PLUGIN = 12,
  VL_PP_MENU = 13,
  VL_PP_WARNING = 14,
};

inline constexpr int kMaxGradientStops = 64;
inline constexpr int kMaxRegions = 64;

struct vlGradientStop {
  uint32_t color;
  double position;
};

struct vlGradientBlock {
  uint32_t style;
  uint32_t startColor;
  uint32_t endColor;
  uint32_t stopCount;
  int32_t angle;
  vlGradientStop stops[kMaxGradientStops];
  double centerX;
  double centerY;
  double balance;
  double border;
};

struct vlRegion {
  int32_t type, x, y, width, height;
};

// Display flag-word bits.
enum : uint32_t {
  VL_DF_BORDERLESS = 0x1,
  VL_DF_SIZEABLE = 0x2,
  VL_DF_FIXED = 0x4,
  VL_DF_NOMODESWITCH = 0x8,
  VL_DF_HIDEPOINTER = 0x10,
  VL_DF_NOHIDE = 0x20,
  VL_DF_AUTOSCALE = 0x40,
  VL_DF_SMOOTHSCALE = 0x80,
  VL_DF_LAYERSCALE = 0x100,
  VL_DF_BGPIC = 0x200,
  VL_DF_ACTIVE = 0x400,
  VL_DF_REMEMBERPOSITION = 0x8000000,
};

inline constexpr size_t kDisplayTitleSize = 256;

struct vlDisplayDecl {
  char title[kDisplayTitleSize];
  uint32_t flags;
  int32_t bgpic, x, y, width, height;
  uint32_t color;
  int32_t scaleWidth, scaleHeight;
  vlRegion dragRegions[kMaxRegions];
  vlRegion sizeRegions[kMaxRegions];
  uint32_t dragRegionCount, sizeRegionCount;
  uint32_t fillStyle;
  vlGradientBlock gradient;
  int32_t textureBrush, textureX, textureY;
  char text1[64];
  uint32_t orientation;
  uint32_t monitor;  // 0-based
  int32_t menu;      // -1 none
  int32_t mode;
  int32_t screenWidth, screenHeight, screenDepth;
  int32_t desktop;
  vlBackfillBlock backfill;
  char xServer[kXServerNameSize];
  char text2[64];
  char text3[256];
};

// One menu item; children hold a sub-menu.
struct vlMenuItem {
  vlMenuItem* next;
  char* name;    // null: a separator
  char* id;
  char* hotkey;
  uint32_t flags;
  vlMenuItem* children;
};

// One key/value pair handed to a plug-in when it is opened.
struct vlPluginTag {
  vlPluginTag* next;
  char* key;
  char* string;  // null for a number or a boolean
  double number;
};

// The data a BGPic declares (before any later revision's fields).
struct vlBGPicDecl {
  uint32_t fillStyle;
  uint32_t fillColor;
  uint32_t endColor;
  int32_t angle;
  int32_t textureBrush, textureX, textureY;
  vlGradientBlock gradient;
  int32_t scaleWidth, scaleHeight, smoothScale;
};

// Brushes, anims and sprites share one record; each reads its own fields.
struct vlPictureDecl {
  int32_t width, height, x, y;
  int32_t globalAlpha;
  uint32_t hardware;
  int32_t scaleWidth, scaleHeight, smoothScale;
  int32_t display;
  uint32_t fromDisk;
  int32_t frames, framesPerRow;
  uint32_t skipLoopFrames, deinterlace;
  // Set by the shared-file pass: this one keeps its file for later ones,
  // or loads from what an earlier one kept.
  uint32_t cache, cacheAlpha, cachedLoad;
};

struct vlButtonDecl {
  int32_t x, y, width, height;
};

inline constexpr size_t kLoaderNameSize = 256;

struct vlPreprocRecord {
  vlPreprocRecord* next;
  uint32_t subtype;
  uint32_t id;
  uint32_t linked;  // preset 1
  char* name;       // file name, key name or warning text; null when absent
  uint32_t nameOffset, nameLength;
  uint32_t linkedOffset, linkedLength;
  uint32_t wordA, wordB;
  uint32_t line;
  // By subtype: vlBGPicDecl, vlPictureDecl, vlButtonDecl, vlDisplayDecl,
  // vlMenuItem (the menu's first item), vlPluginTag (the first tag).
  void* data;
  char* sourceFile;  // the file that holds the container
  char loader[kLoaderNameSize];
  char adapter[kLoaderNameSize];
};

// Gradient defaults: style 2, centre and balance 0.5, border 0, no stops.
void InitGradientRecord(vlGradientBlock* gradient);
// The default display: title "Vellamora", centred 640 x 480, windowed.
void InitDisplayRecord(vlDisplayDecl* display);

// Appends a record to the list (tail). The record must be malloc'ed.
void AppendPreprocRecord(vlPreprocRecord** list, vlPreprocRecord* record);
// Appends a display declaration with id 1, the active flag and, when given,
// that title. 0 or 1000.
int AddDefaultDisplay(vlPreprocRecord** list, const char* title);
// The display declaration with that id, or null.
vlDisplayDecl* FindDisplayDecl(vlPreprocRecord* list, uint32_t id);
// Frees the records with their data and clears the head.
void FreePreprocRecords(vlPreprocRecord** list);
void FreeMenuItems(vlMenuItem* item);
void FreePluginTags(vlPluginTag* tag);

// Window-icon slots: two sets of nine square sizes; a slot holds the chunk
// name of the container's picture for it, or null.
inline constexpr int kIconSlotCount = 18;
extern char* vlIconSlotNames[kIconSlotCount];
extern uint32_t vlIconSlotFlags[kIconSlotCount];
void FreeIconSlots();
