// Console progress messages while files are opened ("Opening script %s").
#pragma once

// Prints format, its "%s" filled with the readable part of fileName (when
// given; without one the format prints literally), with "..." appended when
// addDots is set. Nothing while the console is quiet.
void PrintProgressMessage(const char* format, const char* fileName, int addDots);

// The same with the "%s" filled with name exactly as given: for names that
// are no file paths (a font's ":::default_sans"), which the readable-part
// rule would cut at their first colon.
void PrintProgressName(const char* format, const char* name, int addDots);
