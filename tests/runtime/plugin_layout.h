// Every field of the plug-in records with its offset, listed once and
// compiled both as C (plugin_layout.c) and as C++ (the test), so that a
// difference between the two readings of the header shows.
#pragma once
#include <stddef.h>

#include "abi/plugin_abi.h"

typedef struct vlLayoutRow {
  const char* field;
  size_t offset;
} vlLayoutRow;

#define VL_LAYOUT_ROW(Type, field) {#Type "." #field, offsetof(Type, field)},
#define VL_LAYOUT_SIZE(Type) {"sizeof " #Type, sizeof(Type)},
#define VL_LAYOUT_ENTRY_F(name, result, params) VL_LAYOUT_ROW(vlPluginInfo, name)
#define VL_LAYOUT_ENTRY_D(name, type) VL_LAYOUT_ROW(vlPluginInfo, name)
#define VL_LAYOUT_STDLIB_F(slot, name, result, params) VL_LAYOUT_ROW(vlSvcStdlib, name)
#define VL_LAYOUT_STDLIB_D(slot, name, type) VL_LAYOUT_ROW(vlSvcStdlib, name)
#define VL_LAYOUT_SYSTEM_F(slot, name, result, params) VL_LAYOUT_ROW(vlSvcSystem, name)
#define VL_LAYOUT_SYSTEM_D(slot, name, type) VL_LAYOUT_ROW(vlSvcSystem, name)
#define VL_LAYOUT_FILES_F(slot, name, result, params) VL_LAYOUT_ROW(vlSvcFiles, name)
#define VL_LAYOUT_FILES_D(slot, name, type) VL_LAYOUT_ROW(vlSvcFiles, name)
#define VL_LAYOUT_VM(slot, name, result, params) VL_LAYOUT_ROW(vlPluginVMTable, name)

#define VL_LAYOUT_ROWS                                                                              \
  VL_PLUGIN_ENTRIES(VL_LAYOUT_ENTRY_F, VL_LAYOUT_ENTRY_D)                                           \
  VL_SVC_STDLIB(VL_LAYOUT_STDLIB_F, VL_LAYOUT_STDLIB_D)                                             \
  VL_SVC_SYSTEM(VL_LAYOUT_SYSTEM_F, VL_LAYOUT_SYSTEM_D)                                             \
  VL_SVC_FILES(VL_LAYOUT_FILES_F, VL_LAYOUT_FILES_D)                                                \
  VL_PLUGIN_VM_SLOTS(VL_LAYOUT_VM)                                                                  \
  VL_LAYOUT_ROW(vlPluginInfo, capabilities) VL_LAYOUT_ROW(vlPluginInfo, version)                    \
  VL_LAYOUT_ROW(vlPluginInfo, revision) VL_LAYOUT_ROW(vlPluginInfo, programVersion)                 \
  VL_LAYOUT_ROW(vlPluginInfo, programRevision) VL_LAYOUT_ROW(vlPluginInfo, name)                    \
  VL_LAYOUT_ROW(vlPluginInfo, moduleName) VL_LAYOUT_ROW(vlPluginInfo, author)                       \
  VL_LAYOUT_ROW(vlPluginInfo, description) VL_LAYOUT_ROW(vlPluginInfo, copyright)                   \
  VL_LAYOUT_ROW(vlPluginInfo, url) VL_LAYOUT_ROW(vlPluginInfo, date)                                \
  VL_LAYOUT_ROW(vlPluginInfo, settings) VL_LAYOUT_ROW(vlPluginInfo, helpFile)                       \
  VL_LAYOUT_ROW(vlPluginInfo, callKind) VL_LAYOUT_ROW(vlPluginInfo, fileTypes)                      \
  VL_LAYOUT_ROW(vlPluginInfo, displayCaps) VL_LAYOUT_ROW(vlPluginInfo, displayFlags)                \
  VL_LAYOUT_ROW(vlPluginInfo, disabled)                                                             \
  VL_LAYOUT_ROW(vlPluginInfo, userData) VL_LAYOUT_ROW(vlPluginInfo, displayAccel)                   \
  VL_LAYOUT_ROW(vlPluginInfo, audioDevice) VL_LAYOUT_ROW(vlPluginInfo, audioBufferSize)             \
  VL_LAYOUT_ROW(vlPluginInfo, audioChannels) VL_LAYOUT_ROW(vlPluginInfo, displayCaps2)              \
  VL_LAYOUT_ROW(vlPluginInfo, requesterFlags) VL_LAYOUT_ROW(vlPluginInfo, adapterWords)             \
  VL_LAYOUT_ROW(vlPluginInfo, extensions) VL_LAYOUT_ROW(vlPluginInfo, joinedOnRequest)              \
  VL_LAYOUT_ROW(vlPluginInfo, librariesInitialised)                                                 \
  VL_LAYOUT_ROW(vlPluginFileType, next) VL_LAYOUT_ROW(vlPluginFileType, type)                       \
  VL_LAYOUT_ROW(vlPluginFileType, name) VL_LAYOUT_ROW(vlPluginFileType, mimeType)                   \
  VL_LAYOUT_ROW(vlPluginFileType, extensions) VL_LAYOUT_ROW(vlPluginFileType, formatId)             \
  VL_LAYOUT_ROW(vlPluginFileType, flags)                                                            \
  VL_LAYOUT_ROW(vlSaverFormat, formatId) VL_LAYOUT_ROW(vlSaverFormat, name)                         \
  VL_LAYOUT_ROW(vlSaverImage, palette) VL_LAYOUT_ROW(vlSaverImage, width)                           \
  VL_LAYOUT_ROW(vlSaverImage, rowBytes) VL_LAYOUT_ROW(vlSaverImage, transparentIndex)               \
  VL_LAYOUT_ROW(vlSaverImage, flags)                                                                \
  VL_LAYOUT_ROW(vlSaverAnimFrame, palette) VL_LAYOUT_ROW(vlSaverAnimFrame, rowLength)               \
  VL_LAYOUT_ROW(vlSaverAnimFrame, delay) VL_LAYOUT_ROW(vlSaverAnimFrame, formatId)                  \
  VL_LAYOUT_ROW(vlPluginTime, second) VL_LAYOUT_ROW(vlPluginTime, utcOffset)                        \
  VL_LAYOUT_ROW(vlPluginTime, zone) VL_LAYOUT_ROW(vlPluginStat, flags)                              \
  VL_LAYOUT_ROW(vlPluginStat, sizeHigh) VL_LAYOUT_ROW(vlPluginStat, changeTime)                     \
  VL_LAYOUT_ROW(vlPluginChainEntry, info)                                                           \
  VL_LAYOUT_ROW(vlTagItem, value) VL_LAYOUT_ROW(vlCommand, handler)                                 \
  VL_LAYOUT_ROW(vlConstant, stringValue) VL_LAYOUT_ROW(vlConstant, number)                          \
  VL_LAYOUT_ROW(vlObjectId, handle) VL_LAYOUT_ROW(vlTimeVal, micros)                                \
  VL_LAYOUT_ROW(vlStrBuf, pieces) VL_LAYOUT_ROW(vlStrBuf, state) VL_LAYOUT_ROW(vlStrBuf, buffer)    \
  VL_LAYOUT_ROW(vlDateRecord, seconds) VL_LAYOUT_ROW(vlAdapterStat, size)                           \
  VL_LAYOUT_ROW(vlAdapterStat, protection) VL_LAYOUT_ROW(vlAdapterStat, comment)                    \
  VL_LAYOUT_ROW(vlAdapterStat, accessDate) VL_LAYOUT_ROW(vlAdapterStat, changeDate)                 \
  VL_LAYOUT_ROW(vlAdapterStat, words)                                                               \
  VL_LAYOUT_ROW(vlCommandHook, hook) VL_LAYOUT_ROW(vlCommandHook, error)                            \
  VL_LAYOUT_ROW(vlCommandHook, handlers) VL_LAYOUT_ROW(vlCommandHook, disabled)                     \
  VL_LAYOUT_ROW(vlCommandHook, userData) VL_LAYOUT_ROW(vlCommandHookHandler, handler)               \
  VL_LAYOUT_ROW(vlServiceTable, stdlib) VL_LAYOUT_ROW(vlServiceTable, graphics)                     \
  VL_LAYOUT_ROW(vlServiceTable, vm) VL_LAYOUT_ROW(vlServiceTable, checksums)                        \
  VL_LAYOUT_ROW(vlSvcBuiltinData, fontSizes) VL_LAYOUT_ROW(vlSvcBuiltinData, unused)                \
  VL_LAYOUT_SIZE(vlPluginInfo) VL_LAYOUT_SIZE(vlPluginFileType) VL_LAYOUT_SIZE(vlSaverFormat)       \
  VL_LAYOUT_SIZE(vlSaverImage) VL_LAYOUT_SIZE(vlSaverAnimFrame) VL_LAYOUT_SIZE(vlPluginTime)        \
  VL_LAYOUT_SIZE(vlPluginStat) VL_LAYOUT_SIZE(vlTagItem) VL_LAYOUT_SIZE(vlCommand)                  \
  VL_LAYOUT_SIZE(vlConstant) VL_LAYOUT_SIZE(vlObjectId) VL_LAYOUT_SIZE(vlTimeVal)                   \
  VL_LAYOUT_SIZE(vlStrBuf) VL_LAYOUT_SIZE(vlDateRecord) VL_LAYOUT_SIZE(vlAdapterStat)               \
  VL_LAYOUT_SIZE(vlCommandHook) VL_LAYOUT_SIZE(vlServiceTable) VL_LAYOUT_SIZE(vlSvcStdlib)          \
  VL_LAYOUT_SIZE(vlSvcSystem) VL_LAYOUT_SIZE(vlSvcFiles) VL_LAYOUT_SIZE(vlSvcZlib)                  \
  VL_LAYOUT_SIZE(vlSvcPlugins) VL_LAYOUT_SIZE(vlSvcChecksums) VL_LAYOUT_SIZE(vlSvcGraphics)         \
  VL_LAYOUT_SIZE(vlSvcJpeg) VL_LAYOUT_SIZE(vlSvcFreeType) VL_LAYOUT_SIZE(vlSvcBuiltinData)          \
  VL_LAYOUT_SIZE(vlPluginVMTable)

#ifdef __cplusplus
extern "C" {
#endif
// The rows as the C compiler laid them out; the count through *count.
const vlLayoutRow* PluginLayoutFromC(size_t* count);
#ifdef __cplusplus
}
#endif
