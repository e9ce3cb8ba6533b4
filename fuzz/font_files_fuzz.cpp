// Feeds hostile bytes to the font readers: bitmap glyph files, bitmap font
// contents files, the sfnt name table reader, and FreeType face loading
// through the engine's stream glue followed by measuring and drawing. The
// first byte picks the reader.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "graphics/bitmap.h"
#include "runtime/stream.h"
#include "text/fonts/bitmap_font.h"
#include "text/fonts/engine_font.h"
#include "text/fonts/truetype_font.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = InitFreeType() == 0;
  if (size < 1 || !started) return 0;
  uint8_t mode = data[0] % 4;
  ++data;
  --size;
  switch (mode) {
    case 0: {
      vlParsedBitmapFont parsed;
      if (ParseBitmapGlyphFile(data, size, &parsed)) {
        vlEngineFont font{};
        font.kind = parsed.argb ? VL_FONTKIND_COLOR : VL_FONTKIND_BITMAP;
        font.engineData = &parsed.data;
        vlTextExtent e;
        const char text[] = "Az\x01\xff";
        MeasureBitmapText(&font, text, 4, 0, 0, &e);
        // Every glyph location must lie inside the strike.
        for (int32_t i = 0; i < parsed.data.count; ++i)
          if ((parsed.data.charLoc[i] >> 16) + (parsed.data.charLoc[i] & 0xFFFF) >
              uint32_t(parsed.data.modulo) * 8)
            abort();
        FreeBitmapFontTables(&parsed.data);
        std::free(parsed.argb);
      }
      break;
    }
    case 1: {
      char name[257];
      FindBitmapFontEntry(data, size, 8, name, sizeof name);
      break;
    }
    case 2: {
      vlStream* s = OpenMemoryStream(data, size);
      char family[512], style[512];
      if (ReadSfntNames(s, family, sizeof family, style, sizeof style, 0) &&
          (strnlen(family, sizeof family) == sizeof family || strnlen(style, sizeof style) == sizeof style))
        abort();
      CloseFileStream(s);
      break;
    }
    default: {
      vlStream* s = OpenMemoryStream(data, size);
      vlEngineFont font{};
      font.scaleX = font.scaleY = 1.0;
      if (OpenTTFontFromStream(s, 0, static_cast<uint32_t>(size), 12, 1, &font)) {
        vlTextExtent e;
        MeasureTTText(&font, "Ag\xe9", 3, VL_STYLE_BOLD | VL_STYLE_ITALIC, 0, &e);
        vlBitmap* plane = NewAlphaPlane(32, 16, 1, nullptr, 0);
        const int32_t clip[4] = {0, 0, 32, 16};
        RenderTTText(&font, plane, nullptr, -3, -2, "Ag", 2, VL_STYLE_ANTIALIAS, 0, clip, -1);
        DeleteAlphaPlane(plane);
        GetTTKerning(&font, "AV", 0, 0);
        CloseTTFont(&font);
      }
      break;
    }
  }
  return 0;
}
