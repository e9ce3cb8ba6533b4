// Constant references in texts: "#NAME" names a script constant.
#pragma once

struct vlVMState;

// Reads "#NAME" at the start of text: the constant's text (*stringOut, null
// for a number constant) or number (*numberOut), and the characters used
// (*lengthOut: the name and the '#'). 0, or 1055 (no '#'), 1018 (the name
// does not start with a letter or '_') or 1042 (no such constant). Names
// run over letters, digits, '_', '$' and '!' for at most 64 characters.
int ParseConstantRef(vlVMState* state, const char* text, const char** stringOut, double* numberOut,
                     int* lengthOut);
