// The display-sized copies of a BGPic (front copy and back buffer) and the
// display's scaling: letterbox, scale factors and BGPics re-made at the
// scale size.
#pragma once
#include <cstdint>

struct vlVMState;
struct vlDisplay;
struct vlBGPic;
struct vlBitmap;
struct vlBGPicBackfill;

// How a display's picture relates to its BGPic and to its window. The
// picture is what the display composes in its back buffer: its BGPic's
// display copy. A display that scales its layers makes that picture at the
// scale size, so BGPic coordinates are multiplied by the factors to land in
// it and the window shows it as it is; a display that scales its output
// keeps the picture at the BGPic's size and the window shows it enlarged.
enum vlDisplayScaling : int32_t { VL_SCALING_NONE = 0, VL_SCALING_OUTPUT = 1, VL_SCALING_LAYERS = 2 };
struct vlDisplayMapping {
  vlDisplayScaling scaling;
  int32_t width, height;          // the picture
  double pictureX, pictureY;      // BGPic coordinates to the picture's
  double windowX, windowY;        // the picture's coordinates to the window's
  int32_t windowWidth, windowHeight;
  // The redraw mode that draws a BGPic with its layers in its own
  // coordinates (0 where those are the picture's).
  int32_t bgpicRedrawMode;
};
vlDisplayMapping GetDisplayMapping(const vlDisplay* display);
// A rectangle of BGPic coordinates in the picture: the corner truncated,
// the size rounded as the scaler makes it (never below 1).
void MapRectToPicture(const vlDisplayMapping& map, int32_t* x, int32_t* y, int32_t* width, int32_t* height);

int SetDisplayBGPicCopies(vlDisplay* display, vlBGPic* pic);
int InitialDisplayScaling(vlVMState* state, vlDisplay* display);
void ComputeLetterbox(vlDisplay* display, vlBGPic* pic, int32_t width, int32_t height);
int RescaleDisplayBGPic(vlVMState* state, vlDisplay* display, vlBGPic* pic, int rebuildCopies);
int UpdateDisplayScaleForBGPic(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap** mask,
                               vlBitmap** alpha);
// After the loaded triple was drawn into (its mask or alpha channel, and
// with withPicture its picture): the current and display triples of other
// sizes are made again from it (0 or an error code).
int RemakeBGPicScaledPlanes(vlBGPic* pic, int withPicture);
int ResizeBGPicPlanes(vlVMState* state, vlBGPic* pic, int32_t width, int32_t height, int smooth);
int MakeBGPicAtSize(vlVMState* state, vlBGPic* pic, int32_t width, int32_t height, int smooth, vlBitmap** bitmap,
                    vlBitmap** mask, vlBitmap** alpha);
// Frees the current and display planes that no other triple shares.
void FreeBGPicScaledPlanes(vlBGPic* pic);
// Frees the display planes that the current and loaded triples do not share.
void FreeBGPicDisplayPlanes(vlBGPic* pic);
