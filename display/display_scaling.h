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

int SetDisplayBGPicCopies(vlDisplay* display, vlBGPic* pic);
int InitialDisplayScaling(vlVMState* state, vlDisplay* display);
void ComputeLetterbox(vlDisplay* display, vlBGPic* pic, int32_t width, int32_t height);
int RescaleDisplayBGPic(vlVMState* state, vlDisplay* display, vlBGPic* pic, int rebuildCopies);
int UpdateDisplayScaleForBGPic(vlVMState* state, vlDisplay* display, vlBGPic* pic, vlBitmap** mask,
                               vlBitmap** alpha);
int ResizeBGPicPlanes(vlVMState* state, vlBGPic* pic, int32_t width, int32_t height, int smooth);
int MakeBGPicAtSize(vlVMState* state, vlBGPic* pic, int32_t width, int32_t height, int smooth, vlBitmap** bitmap,
                    vlBitmap** mask, vlBitmap** alpha);
// Frees the current and display planes that no other triple shares.
void FreeBGPicScaledPlanes(vlBGPic* pic);
