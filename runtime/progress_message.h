// Console progress messages while files are opened ("Opening script %s").
#pragma once

// Prints format, its "%s" filled with the readable part of fileName (when
// given; without one the format prints literally), with "..." appended when
// addDots is set. Nothing while the console is quiet.
void PrintProgressMessage(const char* format, const char* fileName, int addDots);
