// The GTK forms of the built-in requesters, run on a thread of their own.
// While a dialog is up the main thread pumps events (state given, the
// script running) or drains the X connections (start-up, shut-down).
#pragma once

#include <cstdint>

#include "platform/requesters.h"

struct vlVMState;

// 1 when the GTK thread runs (started on first use), 0 when GTK or a
// display is missing: the console forms are used then.
int StartRequesterThread();
// Stops the GTK thread (at shut-down).
void StopRequesterThread();
// 1 while the GTK thread runs (from the first dialog to shut-down).
int IsRequesterThreadRunning();

// The dialogs behind the Builtin*Request entries; arguments and results
// as there.
int GtkSystemRequest(vlVMState* state, const char* title, const char* body, const char* buttons, int icon,
                     int32_t* result);
int GtkFileRequest(vlVMState* state, const char* title, const char* pattern, int mode, const char* directory,
                   const char* file, vlFileResult* result);
int GtkPathRequest(vlVMState* state, const char* title, int mode, const char* directory, char** result);
int GtkStringRequest(vlVMState* state, const char* title, const char* body, const char* defaultText, int type,
                     int maximum, int password, char* destination, int destinationSize);
int GtkListRequest(vlVMState* state, const char* title, const char* body, const char* choices,
                   int32_t defaultIndex, int32_t* result);
int GtkFontRequest(vlVMState* state, const char* title, const char* name, int32_t size, vlFontSpec* font);
int GtkColorRequest(vlVMState* state, const char* title, int32_t defaultColor, int32_t* result);

// The font selection's answer as the engine keeps it: the family, the
// style (Pango's normal 0, oblique 1, italic 2), the Pango weight (100 to
// 1000) and the size as the number after the last blank of the font text.
void FontSpecFromPango(const char* family, int style, int weight, const char* fontText, vlFontSpec* font);
// Colours between $RRGGBB and the toolkit's 16-bit channels.
void ColorToGtkChannels(int32_t color, uint16_t* red, uint16_t* green, uint16_t* blue);
int32_t ColorFromGtkChannels(uint16_t red, uint16_t green, uint16_t blue);
