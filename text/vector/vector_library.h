// The "vectorgraphics" command library: path objects that record drawing
// commands, the global line and fill state, the choice of vector engine
// (built in, or a plug-in with the vector capability) and the vector fonts
// made from TrueType fonts for the engines.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlPluginInfo;
struct vlEngineFont;
struct vlLineStateCopy;

inline constexpr uint32_t VL_OBJ_VECTORPATH = 49;

inline constexpr int kErrFindPath = 1393;
inline constexpr int kErrEmptyPath = 1394;
inline constexpr int kErrVectorTextEngine = 1395;
inline constexpr int kErrVectorFont = 1396;
inline constexpr int kErrDrawPath = 1470;

struct vlPath {
  vlObjectNode node;
  uint8_t* buffer;    // null for an empty path
  uint32_t capacity;  // bytes allocated
  uint8_t* writePos;  // the u32 0 that ends the commands
};

// The library's global line and fill state.
struct vlLineState {
  uint32_t join;
  uint32_t cap;
  double dashOffset;
  uint32_t dashCount;
  double* dashes;
  uint32_t fillRule;
};

// Argument tags of AppendPathCommand.
enum : uint32_t { VL_PATHARG_U32 = 0, VL_PATHARG_F64 = 1, VL_PATHARG_STRING = 2, VL_PATHARG_HANDLE = 3 };
struct vlPathArg {
  uint32_t tag;
  uint32_t u32;
  double f64;
  const char* text;
  void* handle;
};

// A new empty path at the list's tail named id, or by its own address when
// id is null; null when memory runs out.
vlPath* AddPath(const vlObjectId* id);
int GetPathByID(vlObjectId id, vlPath** out);
int AppendPathCommand(vlObjectId id, uint32_t code, int count, const vlPathArg* args);
int GrowPathBuffer(vlPath* path, size_t needed);
// Bytes in use before the terminator.
size_t PathUsedBytes(const vlPath* path);
void FreePathRecord(vlVMState* state, vlPath* path);
int FreePathByID(vlVMState* state, vlObjectId id);

const vlLineState* GetLineState();
// The copy an engine receives.
void CopyLineState(vlLineStateCopy* out, uint32_t antiAlias);
vlPluginInfo* GetVectorEngine();
// After SetVectorEngine named no engine: 1531 with that name as the error
// argument, for the commands that need one.
int MissingVectorEngine();
vlPluginInfo* FindVectorEngine(const char* name);
bool IsBuiltinVectorEngine(const vlPluginInfo* engine);
// Set while the draw library should render its shapes through paths.
uint32_t IsPathUseForced();

// The engine's handle of a TrueType font, made on first use; 0, 1396 or 1000.
int GetVectorFontHandle(vlEngineFont* font, vlPluginInfo* engine, void** out);
// Rewrites every text command's font handle for the engine; 0 or an error.
int ResolvePathFonts(uint8_t* commands, vlPluginInfo* engine);

// Engine calls; an engine whose calls go through the frame service (call
// mode 2) does nothing here.
struct vlPathExtentsRequest;
struct vlPathDrawRequest;
void EngineGetPathExtents(vlPluginInfo* engine, vlPathExtentsRequest* request);
int EngineDrawPath(vlPluginInfo* engine, vlPathDrawRequest* request);
// Whether the engine takes a transform (the newer draw request layout, bit
// 0 of its vector extension word); an engine without it draws every path
// untransformed.
bool EngineTakesTransform(vlPluginInfo* engine);
// Extents of commands at (x, y) with the fill flag and width; false when the
// engine gave none.
bool MeasureCommands(vlPluginInfo* engine, const uint8_t* commands, uint32_t fill, uint32_t lineWidth, double x,
                     double y, const double* transform, double box[4]);

int OpenVectorGraphicsLib(vlVMState* state);
void FreeVectorLibrary(vlVMState* state);

// Commands of the drawing side.
int CmdDrawPath(vlVMState* state);
