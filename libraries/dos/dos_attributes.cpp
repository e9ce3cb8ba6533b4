// GetAttribute of open files and directories: the adapter that serves
// them ("inbuilt" for the file system itself) and a file's open mode.
#include "display/graphics_library/attributes.h"
#include "display/graphics_library/graphics_state.h"
#include "libraries/dos/dos_library.h"
#include "runtime/file_lock.h"
#include "runtime/stream.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"

namespace {

void PushAdapterName(vlVMState* L, const char* name) { vl::PushCString(L, name ? name : "inbuilt"); }

int FileAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlObjectNode* n = nullptr;
  if (int status = FindDosObject(&gDos.files, id, ERR_FINDFILE, &n)) return status;
  const auto* f = reinterpret_cast<const vlFile*>(n);
  switch (attr) {
    case VL_ATTRADAPTER: PushAdapterName(L, f->stream ? GetFileStreamAdapterName(f->stream) : nullptr); return 1;
    case VL_ATTRMODE: vl::PushNumber(L, f->mode); return 1;
    default: return ERR_UNKNOWNATTR;
  }
}

int DirectoryAttribute(vlVMState* L, vlObjectId id, int32_t attr) {
  vlObjectNode* n = nullptr;
  if (int status = FindDosObject(&gDos.directories, id, ERR_FINDDIR, &n)) return status;
  const auto* d = reinterpret_cast<const vlDirectory*>(n);
  if (attr != VL_ATTRADAPTER) return ERR_UNKNOWNATTR;
  PushAdapterName(L, d->lock ? GetFileLockAdapterName(d->lock) : nullptr);
  return 1;
}

}  // namespace

void InstallDosAttributeHandlers() {
  SetAttributeHandler(VL_OBJ_FILE, FileAttribute);
  SetAttributeHandler(VL_OBJ_DIRECTORY, DirectoryAttribute);
}
