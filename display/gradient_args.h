// Gradient descriptions from script arguments and option tables, shared by
// gradient BGPics, display backfills and the brush library.
#pragma once

struct vlVMState;
struct vlGradientDesc;

// Resets the record, reads the type (0 and 1 become linear at 0 and 90
// degrees), start and end colour from arguments index..index+2, and the
// angle for types 2 and 4 from angleIndex; then the option table at
// tableIndex (0: none). 0 or an error code.
int ReadGradientArgs(vlVMState* state, int typeIndex, int angleIndex, int tableIndex, vlGradientDesc* gradient);
// The option keys: prefixed ("gradientstyle", "gradientstartcolor", ...,
// "gradientcolors") for display tables, else "centerx", "centery",
// "balance", "border", "colors".
int ReadGradientTable(vlVMState* state, int table, vlGradientDesc* gradient, int prefixed);

// The size a picture command makes when it is given none: the current
// output BGPic's (640 x 480 without one).
void DefaultPictureSize(int* width, int* height);
// The arguments of a gradient picture as the BGPic and brush commands take
// them: width and height at widthIndex and widthIndex + 1 (absent or Nil:
// DefaultPictureSize; below 1: 1218), then the gradient as
// ReadGradientArgs reads it with the option table after the angle.
int ReadGradientImageArgs(vlVMState* state, int widthIndex, int typeIndex, int angleIndex, int* width, int* height,
                          vlGradientDesc* gradient);
