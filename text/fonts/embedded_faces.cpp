// The three TrueType faces carried inside the program, targets of the
// default-font aliases. The build names the files (VL_FACE_SANS, ...).
#include <cstring>

#include "vm/text.h"
#include "text/fonts/truetype_font.h"

#define VL_INCBIN(sym, file)                                                                            \
  __asm__(".section .rodata\n.balign 16\n.global " #sym "\n.hidden " #sym "\n" #sym ":\n.incbin \"" file \
          "\"\n.global " #sym "_end\n.hidden " #sym "_end\n" #sym "_end:\n.byte 0\n.previous\n")

VL_INCBIN(vlFaceSans, VL_FACE_SANS);
VL_INCBIN(vlFaceSerif, VL_FACE_SERIF);
VL_INCBIN(vlFaceMono, VL_FACE_MONO);

extern "C" const unsigned char vlFaceSans[], vlFaceSans_end[], vlFaceSerif[], vlFaceSerif_end[], vlFaceMono[],
    vlFaceMono_end[];

const vlEmbeddedFace* FindEmbeddedFace(const char* name) {
  static const vlEmbeddedFace kFaces[] = {
      {"Bitstream Vera Sans", vlFaceSans, static_cast<size_t>(vlFaceSans_end - vlFaceSans)},
      {"Bitstream Vera Serif", vlFaceSerif, static_cast<size_t>(vlFaceSerif_end - vlFaceSerif)},
      {"Bitstream Vera Sans Mono", vlFaceMono, static_cast<size_t>(vlFaceMono_end - vlFaceMono)},
  };
  for (const vlEmbeddedFace& f : kFaces)
    if (name && CompareNoCase(name, f.name) == 0) return &f;
  return nullptr;
}
