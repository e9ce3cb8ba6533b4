// The GTK font and colour selection dialogs of the font and colour
// requesters, and the conversions of their answers into the engine's
// font record and $RRGGBB colours. The dialogs run on the GTK thread.
// Depends on the dialog helpers and the run-time loaded Pango.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/requesters_gtk.h"
#include "platform/requesters_gtk_request.h"

namespace {

// Pango weights and their places on the engine's 0 ... 215 scale.
struct WeightRow {
  int pango;
  int32_t engine;
};
constexpr WeightRow kWeights[] = {{100, 0},   {200, 40},  {300, 50},  {380, 75},  {400, 80},  {500, 100},
                                  {600, 180}, {700, 200}, {800, 205}, {900, 210}, {1000, 215}};

int32_t EngineWeight(int pango) {
  for (const WeightRow& row : kWeights)
    if (row.pango == pango) return row.engine;
  return 80;
}

}  // namespace

void FontSpecFromPango(const char* family, int style, int weight, const char* fontText, vlFontSpec* font) {
  std::snprintf(font->name, sizeof font->name, "%s", family ? family : "");
  font->slant = style == PANGO_STYLE_OBLIQUE ? 110 : style == PANGO_STYLE_ITALIC ? 100 : 0;
  font->weight = EngineWeight(weight);
  const char* blank = fontText ? std::strrchr(fontText, ' ') : nullptr;
  font->size = blank ? std::atoi(blank + 1) : 0;
  font->bold = font->weight == 180 || font->weight == 200 || font->weight == 205;
  font->italic = font->slant == 100 || font->slant == 110;
  font->underline = 0;
  font->strikeout = 0;
  font->color = 0;
}

void ColorToGtkChannels(int32_t color, uint16_t* red, uint16_t* green, uint16_t* blue) {
  *red = uint16_t(((color >> 16) & 0xFF) * 256);
  *green = uint16_t(((color >> 8) & 0xFF) * 256);
  *blue = uint16_t((color & 0xFF) * 256);
}

int32_t ColorFromGtkChannels(uint16_t red, uint16_t green, uint16_t blue) {
  return int32_t(red / 256) << 16 | int32_t(green / 256) << 8 | int32_t(blue / 256);
}

int RunFontDialog() {
  vlGtkRequest& r = gGtkRequest;
  GtkWidget* dialog = PrepareDialog(dl_gtk_font_selection_dialog_new(ToGtk(r.title).c_str()));
  if (!dialog) return -1;
  GtkFontSelectionDialog* selection = GTK_FONT_SELECTION_DIALOG(dialog);
  if (!r.fontName.empty()) {
    // A size of 0 would ask for an unreadable font: the name alone keeps
    // the dialog's own size.
    char initial[320];
    if (r.fontSize > 0)
      std::snprintf(initial, sizeof initial, "%s %d", r.fontName.c_str(), r.fontSize);
    else
      std::snprintf(initial, sizeof initial, "%s", r.fontName.c_str());
    dl_gtk_font_selection_dialog_set_font_name(selection, ToGtk(initial).c_str());
  }
  int reply = 0;
  int response = RunDialog(dialog);
  if (response == GTK_RESPONSE_OK || response == GTK_RESPONSE_APPLY) {
    gchar* chosen = dl_gtk_font_selection_dialog_get_font_name(selection);
    PangoFontDescription* description =
        chosen && dl_pango_font_description_from_string ? dl_pango_font_description_from_string(chosen) : nullptr;
    if (description) {
      const char* family = dl_pango_font_description_get_family(description);
      FontSpecFromPango(FromGtk(family ? family : "").c_str(), dl_pango_font_description_get_style(description),
                        dl_pango_font_description_get_weight(description), FromGtk(chosen).c_str(), &r.font);
      dl_pango_font_description_free(description);
      reply = 1;
    }
    if (chosen) dl_g_free(chosen);
  }
  DestroyDialog(dialog);
  return reply;
}

int RunColorDialog() {
  vlGtkRequest& r = gGtkRequest;
  GtkWidget* dialog = PrepareDialog(dl_gtk_color_selection_dialog_new(ToGtk(r.title).c_str()));
  if (!dialog) return -1;
  GtkColorSelectionDialog* d = GTK_COLOR_SELECTION_DIALOG(dialog);
  GtkWidget* widget =
      dl_gtk_color_selection_dialog_get_color_selection ? dl_gtk_color_selection_dialog_get_color_selection(d)
                                                        : d->colorsel;
  GtkColorSelection* selection = GTK_COLOR_SELECTION(widget);
  if (r.defaultColor != -1) {
    GdkColor color{};
    ColorToGtkChannels(r.defaultColor, &color.red, &color.green, &color.blue);
    dl_gtk_color_selection_set_current_color(selection, &color);
  }
  int reply = 0;
  if (RunDialog(dialog) == GTK_RESPONSE_OK) {
    GdkColor color{};
    dl_gtk_color_selection_get_current_color(selection, &color);
    r.resultColor = ColorFromGtkChannels(color.red, color.green, color.blue);
    reply = 1;
  }
  DestroyDialog(dialog);
  return reply;
}
