// The vectorgraphics library: path records and their command buffers, the
// line and fill state, the vector engine choice and the engines' fonts.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "runtime/os.h"
#include "runtime/error_vm.h"
#include "runtime/errors.h"
#include "runtime/object_data.h"
#include "runtime/object_index.h"
#include "runtime/option_readers.h"
#include "runtime/plugins.h"
#include "runtime/utf8.h"
#include "text/font_cache.h"
#include "text/fonts/truetype_font.h"
#include "text/text_library.h"
#include "text/vector/path_layers.h"
#include "text/vector/path_draw.h"
#include "text/vector/vector_engine.h"
#include "text/vector/vector_library.h"
#include "vm/argreaders.h"
#include "vm/auxlib.h"
#include "vm/constants.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

vlObjectNode* gPaths = nullptr;
// Making and finding a path must not walk every path there is.
vlObjectIndex gPathIndex;
vlLineState gLine = {};
uint32_t gForcePathUse = 0;
vlPluginInfo gBuiltin = {};
vlPluginInfo* gEngine = nullptr;
char gMissingEngine[1024];  // the name SetVectorEngine could not find

vlPath* AsPath(vlObjectNode* n) { return reinterpret_cast<vlPath*>(n); }

// The extension word of the vector capability bit.
uint32_t& VectorExtension(vlPluginInfo* info) {
  int bit = 0;
  while (!(PLUGINCAPS_VECTOR & (1u << bit))) ++bit;
  return info->extensions[bit];
}

// The id argument at index: the path, or the error that finding it gave.
int PathArg(vlVMState* L, int index, vlPath** out) {
  vlObjectId id;
  GetObjectIDArg(&id, L, index);
  return GetPathByID(id, out);
}

int Append(vlVMState* L, uint32_t code, std::initializer_list<vlPathArg> args) {
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return AppendPathCommand(id, code, static_cast<int>(args.size()), args.begin());
}

vlPathArg U32(uint32_t v) { return {VL_PATHARG_U32, v, 0, nullptr, nullptr}; }
vlPathArg F64(double v) { return {VL_PATHARG_F64, 0, v, nullptr, nullptr}; }

double Num(vlVMState* L, int index) { return vl::CheckNumberArg(L, index); }

// A flag argument: True and False are numbers to scripts.
uint32_t FlagArg(vlVMState* L, int index, uint32_t def) {
  const int type = vl::GetTypeAt(L, index);
  if (type == VL_TNONE || type == VL_TNIL) return def;
  if (type == VL_TBOOLEAN) return vl::ToBooleanAt(L, index) ? 1 : 0;
  return vl::CheckNumberArg(L, index) != 0 ? 1 : 0;
}

int CmdMoveTo(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  return Append(L, VL_PATH_MOVE, {U32(0), F64(Num(L, 2)), F64(Num(L, 3))});
}
int CmdLineTo(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  return Append(L, VL_PATH_LINE, {U32(0), F64(Num(L, 2)), F64(Num(L, 3))});
}
int CmdRelMoveTo(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  return Append(L, VL_PATH_MOVE, {U32(1), F64(Num(L, 2)), F64(Num(L, 3))});
}
int CmdRelLineTo(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  return Append(L, VL_PATH_LINE, {U32(1), F64(Num(L, 2)), F64(Num(L, 3))});
}
int Curve(vlVMState* L, uint32_t relative) {
  CheckArgs(L, 7, 7, 0, 0);
  return Append(L, VL_PATH_CURVE,
                {U32(relative), F64(Num(L, 2)), F64(Num(L, 3)), F64(Num(L, 4)), F64(Num(L, 5)), F64(Num(L, 6)),
                 F64(Num(L, 7))});
}
int CmdCurveTo(vlVMState* L) { return Curve(L, 0); }
int CmdRelCurveTo(vlVMState* L) { return Curve(L, 1); }

int CmdStartPath(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  const bool automatic = GetObjectIDArgOpt(&id, L, 1) != 0;
  if (!automatic) {
    vlPath* old;
    if (GetPathByID(id, &old) == 0) FreePathRecord(L, old);
  }
  vlPath* path = AddPath(automatic ? nullptr : &id);
  if (!path) return ERR_MEM;
  if (!automatic) return 0;
  vl::PushPointer(L, path);
  return 1;
}

int CmdStartSubPath(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  return Append(L, VL_PATH_SUBPATH, {});
}
int CmdClosePath(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  return Append(L, VL_PATH_CLOSE, {});
}

int Arc(vlVMState* L, double x, double y, double rx, double ry, double start, double end, uint32_t clockwise) {
  return Append(L, VL_PATH_ARC, {F64(x), F64(y), F64(rx), F64(ry), F64(start), F64(end), U32(clockwise)});
}
int CmdAddArcToPath(vlVMState* L) {
  CheckArgs(L, 7, 8, 0, 0);
  const uint32_t clockwise = FlagArg(L, 8, 1);
  return Arc(L, Num(L, 2), Num(L, 3), Num(L, 4), Num(L, 5), Num(L, 6), Num(L, 7), clockwise);
}
int CmdAddCircleToPath(vlVMState* L) {
  CheckArgs(L, 4, 4, 0, 0);
  const double r = Num(L, 4);
  return Arc(L, Num(L, 2), Num(L, 3), r, r, 0, 360, 1);
}
int CmdAddEllipseToPath(vlVMState* L) {
  CheckArgs(L, 5, 5, 0, 0);
  return Arc(L, Num(L, 2), Num(L, 3), Num(L, 4), Num(L, 5), 0, 360, 1);
}

int CmdAddBoxToPath(vlVMState* L) {
  CheckArgs(L, 5, 6, 0, 0);
  int32_t levels[4] = {0, 0, 0, 0};
  if (vl::GetTypeAt(L, 6) == VL_TTABLE) {
    int32_t all = 0;
    if (GetTableInt(L, 6, "roundlevel", &all, nullptr))
      for (int32_t& l : levels) l = all;
    const char* keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
    for (int i = 0; i < 4; ++i) GetTableInt(L, 6, keys[i], &levels[i], nullptr);
  }
  ClampCornerLevels(levels);
  return Append(L, VL_PATH_BOX,
                {F64(Num(L, 2)), F64(Num(L, 3)), F64(Num(L, 4)), F64(Num(L, 5)), U32(static_cast<uint32_t>(levels[0])),
                 U32(static_cast<uint32_t>(levels[1])), U32(static_cast<uint32_t>(levels[2])),
                 U32(static_cast<uint32_t>(levels[3]))});
}

int CmdSetLineJoin(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  gLine.join = static_cast<uint32_t>(vl::CheckIntArg(L, 1));
  return 0;
}
int CmdSetLineCap(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  gLine.cap = static_cast<uint32_t>(vl::CheckIntArg(L, 1));
  return 0;
}
int CmdSetFillRule(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  gLine.fillRule = static_cast<uint32_t>(vl::CheckIntArg(L, 1));
  return 0;
}

int CmdSetDash(vlVMState* L) {
  CheckArgs(L, 2, 0, 0, 0);
  const int n = vl::GetStackTop(L);
  const double offset = Num(L, 1);
  const bool on = vl::GetTypeAt(L, 2) == VL_TNUMBER && vl::ToNumberAt(L, 2) >= 0;
  // Every length is checked first: a bad one raises its error with the
  // dashes as they were and no new array left behind.
  for (int i = 3; on && i <= n; ++i) Num(L, i);
  FreeMemory(gLine.dashes);
  gLine.dashes = nullptr;
  gLine.dashCount = 0;
  gLine.dashOffset = 0;
  if (!on) return 0;
  auto* dashes = static_cast<double*>(AllocMemory(sizeof(double) * static_cast<size_t>(n - 1), 0));
  if (!dashes) return ERR_MEM;
  for (int i = 2; i <= n; ++i) dashes[i - 2] = vl::ToNumberAt(L, i);
  gLine.dashes = dashes;
  gLine.dashCount = static_cast<uint32_t>(n - 1);
  gLine.dashOffset = offset;
  return 0;
}

int CmdFreePath(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  return FreePathByID(L, id);
}

int CmdClearPath(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlPath* path;
  if (int status = PathArg(L, 1, &path)) return status;
  FreeMemory(path->buffer);
  path->buffer = path->writePos = nullptr;
  path->capacity = 0;
  return 0;
}

int CmdIsPathEmpty(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlPath* path;
  if (int status = PathArg(L, 1, &path)) return status;
  vl::PushBoolean(L, path->buffer == nullptr);
  return 1;
}

int CmdGetCurrentPoint(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlPath* path;
  if (int status = PathArg(L, 1, &path)) return status;
  vlPluginInfo* engine = gEngine;
  if (!engine) return MissingVectorEngine();
  double x = 0, y = 0;
  if (path->buffer && engine->callKind != 2 && engine->GetCurrentPoint) {
    if (int status = ResolvePathFonts(path->buffer, engine)) return status;
    vlLineStateCopy ls;
    CopyLineState(&ls, 0);
    engine->GetCurrentPoint(
        path->buffer, &ls, &x, &y);
  }
  vl::PushNumber(L, x);
  vl::PushNumber(L, y);
  return 2;
}

int CmdGetPathExtents(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlPath* path;
  if (int status = PathArg(L, 1, &path)) return status;
  if (!gEngine) return MissingVectorEngine();
  double box[4] = {0, 0, 0, 0};
  if (path->buffer) {
    if (int status = ResolvePathFonts(path->buffer, gEngine)) return status;
    vlPathDrawStyle style;
    GetPathDrawStyle(&style);
    if (!MeasureCommands(gEngine, path->buffer, style.fillStyle != 0, static_cast<uint32_t>(style.lineWidth), 0, 0,
                         nullptr, box) &&
        IsBuiltinVectorEngine(gEngine))
      if (int why = BuiltinPathBuildError()) return why;
  }
  for (double v : box) vl::PushNumber(L, v);
  return 4;
}

int CmdCopyPath(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlPath* source;
  if (int status = PathArg(L, 1, &source)) return status;
  vlObjectId id;
  const bool automatic = GetObjectIDArgOpt(&id, L, 2) != 0;
  if (!automatic) {
    if (!id.handle && !source->node.idHandle && id.number == source->node.idNumber) return ERR_WRONGUSAGE;
    vlPath* old;
    if (GetPathByID(id, &old) == 0) {
      if (old == source) return ERR_WRONGUSAGE;
      FreePathRecord(L, old);
    }
  }
  vlPath* copy = AddPath(automatic ? nullptr : &id);
  if (!copy) return ERR_MEM;
  if (source->buffer) {
    copy->buffer = static_cast<uint8_t*>(AllocMemory(source->capacity, 0));
    if (!copy->buffer) {
      FreePathRecord(L, copy);
      return ERR_MEM;
    }
    std::memcpy(copy->buffer, source->buffer, source->capacity);
    copy->capacity = source->capacity;
    copy->writePos = copy->buffer + (source->writePos - source->buffer);
  }
  if (!automatic) return 0;
  vl::PushPointer(L, copy);
  return 1;
}

int CmdAppendPath(vlVMState* L) {
  CheckArgs(L, 2, 2, 0, 0);
  vlPath *dst, *src;
  if (int status = PathArg(L, 1, &dst)) return status;
  if (int status = PathArg(L, 2, &src)) return status;
  if (dst == src) return ERR_WRONGUSAGE;
  if (!src->buffer) return 0;
  const size_t used = PathUsedBytes(src);
  if (int status = GrowPathBuffer(dst, used + 4)) return status;
  std::memcpy(dst->writePos, src->buffer, used);
  dst->writePos += used;
  std::memset(dst->writePos, 0, 4);
  return 0;
}

int CmdAddTextToPath(vlVMState* L) {
  CheckArgs(L, 2, 3, 0, 0);
  vlObjectId id;
  GetObjectIDArg(&id, L, 1);
  const char* text = vl::CheckStringArg(L, 2, nullptr);
  int32_t encoding = GetDefaultEncoding();
  if (vl::GetTypeAt(L, 3) == VL_TTABLE) GetTableInt(L, 3, "encoding", &encoding, nullptr);
  vlPath* path;
  if (int status = GetPathByID(id, &path)) return status;
  char* converted = nullptr;
  if (encoding == 0) {
    converted = ConvertLatin1ToUTF8(text);
    if (!converted) return ERR_MEM;
    text = converted;
  } else if (encoding != 1) {
    return ERR_WRONGUSAGE;
  }
  int status = 0;
  vlEngineFont* font = GetCurrentFont();
  void* handle = nullptr;
  if (!font || font->kind != VL_FONTKIND_TRUETYPE)
    status = kErrVectorTextEngine;
  else if (!gEngine)
    status = MissingVectorEngine();
  else
    status = GetVectorFontHandle(font, gEngine, &handle);
  if (!status) {
    const vlPathArg args[3] = {{VL_PATHARG_HANDLE, 0, 0, nullptr, handle},
                               U32(static_cast<uint32_t>(font->size)),
                               {VL_PATHARG_STRING, 0, 0, text, nullptr}};
    status = AppendPathCommand(id, VL_PATH_TEXT, 3, args);
  }
  std::free(converted);
  return status;
}

void Translate(vlPath* path, double dx, double dy) {
  vlPluginInfo* engine = gEngine;
  if (!path->buffer || !engine || engine->callKind == 2 || !engine->TranslatePath) return;
  vlPathTranslateRequest r{path->buffer, dx, dy};
  engine->TranslatePath(&r);
}

int CmdTranslatePath(vlVMState* L) {
  CheckArgs(L, 3, 3, 0, 0);
  vlPath* path;
  if (int status = PathArg(L, 1, &path)) return status;
  if (!gEngine) return MissingVectorEngine();
  Translate(path, Num(L, 2), Num(L, 3));
  return 0;
}

int CmdNormalizePath(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  vlPath* path;
  if (int status = PathArg(L, 1, &path)) return status;
  if (!gEngine) return MissingVectorEngine();
  if (!path->buffer) return 0;
  if (int status = ResolvePathFonts(path->buffer, gEngine)) return status;
  double box[4] = {0, 0, 0, 0};
  if (MeasureCommands(gEngine, path->buffer, 1, 1, 0, 0, nullptr, box)) Translate(path, -box[0], -box[1]);
  return 0;
}

int CmdForcePathUse(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  gForcePathUse = FlagArg(L, 1, 0);
  gShapeAsPath = gForcePathUse ? DrawShapeAsPath : nullptr;
  return 0;
}

int CmdSetVectorEngine(vlVMState* L) {
  CheckArgs(L, 1, 1, 0, 0);
  const char* name = vl::CheckStringArg(L, 1, nullptr);
  gEngine = FindVectorEngine(name);
  if (gEngine) return 0;
  std::snprintf(gMissingEngine, sizeof gMissingEngine, "%s", name);
  return MissingVectorEngine();
}

const vlCommand kVectorCommands[] = {
    {"MoveTo", CmdMoveTo},
    {"LineTo", CmdLineTo},
    {"CurveTo", CmdCurveTo},
    {"RelMoveTo", CmdRelMoveTo},
    {"RelLineTo", CmdRelLineTo},
    {"RelCurveTo", CmdRelCurveTo},
    {"DrawPath", CmdDrawPath},
    {"StartPath", CmdStartPath},
    {"StartSubPath", CmdStartSubPath},
    {"ClosePath", CmdClosePath},
    {"AddArcToPath", CmdAddArcToPath},
    {"AddCircleToPath", CmdAddCircleToPath},
    {"AddEllipseToPath", CmdAddEllipseToPath},
    {"AddBoxToPath", CmdAddBoxToPath},
    {"SetLineJoin", CmdSetLineJoin},
    {"SetLineCap", CmdSetLineCap},
    {"SetDash", CmdSetDash},
    {"SetFillRule", CmdSetFillRule},
    {"FreePath", CmdFreePath},
    {"ClearPath", CmdClearPath},
    {"IsPathEmpty", CmdIsPathEmpty},
    {"GetCurrentPoint", CmdGetCurrentPoint},
    {"GetPathExtents", CmdGetPathExtents},
    {"CopyPath", CmdCopyPath},
    {"AppendPath", CmdAppendPath},
    {"AddTextToPath", CmdAddTextToPath},
    {"TranslatePath", CmdTranslatePath},
    {"NormalizePath", CmdNormalizePath},
    {"ForcePathUse", CmdForcePathUse},
    {"SetVectorEngine", CmdSetVectorEngine},
    {nullptr, nullptr},
};

const vlConstant kVectorConstants[] = {
    {"JOINMITER", nullptr, 0},       {"JOINROUND", nullptr, 1},       {"JOINBEVEL", nullptr, 2},
    {"CAPBUTT", nullptr, 0},         {"CAPROUND", nullptr, 1},        {"CAPSQUARE", nullptr, 2},
    {"FILLRULEWINDING", nullptr, 0}, {"FILLRULEEVENODD", nullptr, 1}, {nullptr, nullptr, 0},
};

void ReleaseVectorFont(vlVectorFontNode* node) {
  auto* engine = static_cast<vlPluginInfo*>(node->engine);
  if (engine && engine->callKind != 2 && engine->FreeVectorFont)
    engine->FreeVectorFont(node->handle);
}

}  // namespace

vlPath* AddPath(const vlObjectId* id) {
  auto* path = static_cast<vlPath*>(AllocMemory(sizeof(vlPath), 1));
  if (!path) return nullptr;
  path->node.type = VL_OBJ_VECTORPATH;
  // Named before it is indexed, so that the index never holds a stale key.
  path->node.idNumber = id ? id->number : 0;
  path->node.idHandle = id ? id->handle : path;
  if (gPathIndex.Append(&gPaths, &path->node)) {
    FreeMemory(path);
    return nullptr;
  }
  return path;
}

int GetPathByID(vlObjectId id, vlPath** out) {
  if (vlObjectNode* n = gPathIndex.FirstExact(id)) {
    *out = AsPath(n);
    return 0;
  }
  if (id.handle) return ERR_FINDARRAY;
  SetErrorArgIndex(id.number);
  return kErrFindPath;
}

size_t PathUsedBytes(const vlPath* path) {
  return path->buffer ? static_cast<size_t>(path->writePos - path->buffer) : 0;
}

int GrowPathBuffer(vlPath* path, size_t needed) {
  const size_t used = PathUsedBytes(path);
  if (path->capacity - used >= needed) return 0;
  const size_t growth = needed > 1024 ? needed : 1024;
  if (path->capacity + growth > UINT32_MAX) return ERR_MEM;
  auto* buffer = static_cast<uint8_t*>(AllocMemory(path->capacity + growth, 1));
  if (!buffer) return ERR_MEM;
  if (used) std::memcpy(buffer, path->buffer, used);
  FreeMemory(path->buffer);
  path->buffer = buffer;
  path->capacity = static_cast<uint32_t>(path->capacity + growth);
  path->writePos = buffer + used;
  return 0;
}

int AppendPathCommand(vlObjectId id, uint32_t code, int count, const vlPathArg* args) {
  vlPath* path;
  if (int status = GetPathByID(id, &path)) return status;
  size_t needed = 128;
  for (int i = 0; i < count; ++i)
    if (args[i].tag == VL_PATHARG_STRING) needed += PathStringBytes(std::strlen(args[i].text));
  if (int status = GrowPathBuffer(path, needed)) return status;
  uint8_t* p = path->writePos;
  std::memcpy(p, &code, 4);
  p += 4;
  for (int i = 0; i < count; ++i) {
    const vlPathArg& a = args[i];
    switch (a.tag) {
      case VL_PATHARG_U32:
        std::memcpy(p, &a.u32, 4);
        p += 4;
        break;
      case VL_PATHARG_F64:
        std::memcpy(p, &a.f64, 8);
        p += 8;
        break;
      case VL_PATHARG_STRING: {
        const size_t n = std::strlen(a.text), bytes = PathStringBytes(n);
        std::memset(p, 0, bytes);
        std::memcpy(p, a.text, n);
        p += bytes;
        break;
      }
      default:
        std::memcpy(p, &a.handle, sizeof a.handle);
        p += sizeof a.handle;
        break;
    }
  }
  path->writePos = p;
  std::memset(p, 0, 4);
  return 0;
}

void FreePathRecord(vlVMState* L, vlPath* path) {
  gPathIndex.Unlink(&gPaths, &path->node);
  FreeMemory(path->buffer);
  FreeObjectDataList(L, &path->node.data);
  FreeMemory(path);
}

int FreePathByID(vlVMState* L, vlObjectId id) {
  vlPath* path;
  if (int status = GetPathByID(id, &path)) return status;
  FreePathRecord(L, path);
  return 0;
}

const vlLineState* GetLineState() { return &gLine; }

void CopyLineState(vlLineStateCopy* out, uint32_t antiAlias) {
  *out = {};
  out->join = gLine.join;
  out->cap = gLine.cap;
  out->fillRule = gLine.fillRule;
  out->antiAlias = antiAlias;
  out->dashOffset = gLine.dashOffset;
  out->dashes = gLine.dashes;
  out->dashCount = gLine.dashCount;
}

vlPluginInfo* GetVectorEngine() { return gEngine; }

int MissingVectorEngine() {
  SetErrorArgument(gMissingEngine);
  return ERR_FINDPLUGIN;
}
bool IsBuiltinVectorEngine(const vlPluginInfo* engine) { return engine == &gBuiltin; }
uint32_t IsPathUseForced() { return gForcePathUse; }

vlPluginInfo* FindVectorEngine(const char* name) {
  if (!name) return nullptr;
  if (strcasecmp(name, "default") == 0) return &gBuiltin;
  char file[300];
  const size_t n = std::strlen(name);
  if (n + 5 > sizeof file) return nullptr;
  std::memcpy(file, name, n + 1);
  if (!EndsWithNoCase(file, ".vlp")) std::memcpy(file + n, ".vlp", 5);
  for (vlPlugin* p = FirstPlugin(); p; p = p->next) {
    vlPluginHandle* h = p->handle;
    if (h && h->library && h->info && (h->info->capabilities & PLUGINCAPS_VECTOR) && strcasecmp(p->name, file) == 0)
      return h->info;
  }
  return nullptr;
}

int GetVectorFontHandle(vlEngineFont* font, vlPluginInfo* engine, void** out) {
  for (vlVectorFontNode* v = font->vectorFonts; v; v = v->next) {
    if (v->engine == engine) {
      *out = v->handle;
      return 0;
    }
  }
  void* handle = nullptr;
  FT_Face face = font->kind == VL_FONTKIND_TRUETYPE ? GetTTFace(font) : nullptr;
  if (face && engine->callKind != 2 && engine->CreateVectorFont)
    handle = engine->CreateVectorFont(face);
  if (!handle) return kErrVectorFont;
  auto* node = static_cast<vlVectorFontNode*>(AllocMemory(sizeof(vlVectorFontNode), 1));
  if (!node) {
    vlVectorFontNode lone{nullptr, engine, handle};
    ReleaseVectorFont(&lone);
    return ERR_MEM;
  }
  node->engine = engine;
  node->handle = handle;
  node->next = font->vectorFonts;
  font->vectorFonts = node;
  *out = handle;
  return 0;
}

int ResolvePathFonts(uint8_t* commands, vlPluginInfo* engine) {
  if (!commands) return 0;
  for (uint8_t* p = commands; size_t bytes = PathCommandBytes(p); p += bytes) {
    uint32_t code;
    std::memcpy(&code, p, 4);
    if (code != VL_PATH_TEXT) continue;
    void* handle;
    std::memcpy(&handle, p + 4, sizeof handle);
    vlEngineFont* font = FindFontByHandle(handle);
    if (!font) return kErrVectorFont;
    void* now;
    if (int status = GetVectorFontHandle(font, engine, &now)) return status;
    std::memcpy(p + 4, &now, sizeof now);
  }
  return 0;
}

void EngineGetPathExtents(vlPluginInfo* engine, vlPathExtentsRequest* request) {
  if (engine && engine->callKind != 2 && engine->GetPathExtents)
    engine->GetPathExtents(request);
}

bool EngineTakesTransform(vlPluginInfo* engine) { return engine && (VectorExtension(engine) & 1); }

int EngineDrawPath(vlPluginInfo* engine, vlPathDrawRequest* request) {
  if (!engine || engine->callKind == 2 || !engine->DrawPath) return 0;
  if (!EngineTakesTransform(engine)) {
    // The older layout: the position in the first pair, and no transform.
    request->zero1 = request->x;
    request->zero2 = request->y;
    request->transform = nullptr;
  }
  return engine->DrawPath(request);
}

bool MeasureCommands(vlPluginInfo* engine, const uint8_t* commands, uint32_t fill, uint32_t lineWidth, double x,
                     double y, const double* transform, double box[4]) {
  vlLineStateCopy ls;
  CopyLineState(&ls, 0);
  vlPathExtentsRequest r{};
  r.commands = commands;
  r.lineState = &ls;
  r.fill = fill;
  r.lineWidth = lineWidth;
  r.x = x;
  r.y = y;
  // Results nobody writes stay recognisable.
  r.x1 = r.y1 = 1e300;
  r.x2 = r.y2 = -1e300;
  vlPathTransform t = {1, 0, 0, 1};
  if (transform) t = {transform[0], transform[1], transform[2], transform[3]};
  r.transform = &t;
  EngineGetPathExtents(engine, &r);
  if (r.x1 > r.x2 || r.y1 > r.y2) return false;
  box[0] = r.x1;
  box[1] = r.y1;
  box[2] = r.x2;
  box[3] = r.y2;
  return true;
}

int OpenVectorGraphicsLib(vlVMState* L) {
  gBuiltin = {};
  FillBuiltinVectorEngine(&gBuiltin);
  gEngine = &gBuiltin;
  gLine = {};
  gForcePathUse = 0;
  gShapeAsPath = nullptr;
  InstallPathLayerSource();
  int top = vl::GetStackTop(L);
  vl::PushSlotCopy(L, vl::kGlobalsIndex);
  vl::RegisterCommands(L, nullptr, kVectorCommands, 0);
  vl::SetStackTop(L, top);
  if (int status = RegisterLibrary(kVectorCommands, "vectorgraphics")) return status;
  vl::RegisterConstants(L, kVectorConstants, 0);
  return RegisterObjectList(&gPaths);
}

void FreeVectorLibrary(vlVMState* L) {
  while (gPaths) FreePathRecord(L, AsPath(gPaths));
  gPathIndex.Clear();
  FreeMemory(gLine.dashes);
  gLine.dashes = nullptr;
  gLine.dashCount = 0;
  FreeVectorFontLists(ReleaseVectorFont);
  ForgetKeptOutlines();
}
