// The brush library's image-processing commands, registered with the
// rest of the brush library.
#pragma once
#include "runtime/objects.h"

struct vlVMState;
struct vlBrush;
struct vlBitmap;

// Finds brush argument 1 for a changing command: unlocked, raster, not
// hardware, not the current drawing target.
int FindBrushToChange(vlVMState* state, int index, vlBrush** out);
// ERR_MODIFYABR when the brush is the one being drawn into, else 0.
int RefuseActiveBrush(vlVMState* state, vlObjectId id);
// Replaces the brush's planes (and size) by an engine's results.
void ReplaceBrushPlanes(vlBrush* brush, vlBitmap* bitmap, vlBitmap* mask, vlBitmap* alpha, int width, int height);

#define VL_BRUSH_EFFECT_COMMANDS(X)                                                                     \
  X(ReduceAlphaChannel) X(QuantizeBrush) X(WriteBrushPixel) X(ReadBrushPixel) X(BrushToRGBArray)         \
  X(OilPaintBrush) X(WaterRippleBrush) X(ChangeBrushTransparency) X(BrushToMonochrome) X(PixelateBrush) \
  X(SwirlBrush) X(CharcoalBrush) X(SepiaToneBrush) X(ModulateBrush) X(ContrastBrush) X(GammaBrush)      \
  X(SolarizeBrush) X(SharpenBrush) X(EdgeBrush) X(EmbossBrush) X(BlurBrush) X(TrimBrush) X(DeleteMask)  \
  X(InvertAlphaChannel) X(InvertMask) X(CropBrush) X(DeleteAlphaChannel) X(SetBrushTransparency)        \
  X(BrushToGray) X(MixBrush) X(FlipBrush) X(InvertBrush) X(TintBrush) X(BarrelDistortBrush)             \
  X(PolarDistortBrush) X(ArcDistortBrush) X(PerspectiveDistortBrush) X(FloodFill) X(ReplaceColors)        \
  X(SaveBrush) X(RasterizeBrush)

// Brushes made from other objects.
#define VL_BRUSH_CREATE_COMMANDS(X)                                                                   \
  X(CopyBrush) X(ConvertToBrush) X(GetBrushLink) X(CreateBorderBrush) X(CreateShadowBrush)            \
  X(GrabDesktop) X(RGBArrayToBrush) X(CreateGradientBrush) X(CreateTexturedBrush) X(SelectBrush)       \
  X(SelectMask) X(SelectAlphaChannel) X(SetMaskMode) X(SetAlphaIntensity) X(BeginDoubleBuffer)          \
  X(EndDoubleBuffer) X(Flip)

#define VL_DECLARE_BRUSH_COMMAND(name) int Cmd##name(vlVMState* state);
VL_BRUSH_EFFECT_COMMANDS(VL_DECLARE_BRUSH_COMMAND)
VL_BRUSH_CREATE_COMMANDS(VL_DECLARE_BRUSH_COMMAND)
#undef VL_DECLARE_BRUSH_COMMAND
