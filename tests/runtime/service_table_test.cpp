// The service table as a plug-in sees it: the layout header, slots checked
// against the C library and zlib, the time and stat records, the plug-in
// chain, the VM slots the runtime installs, "not available" slots, and
// command hooks taking over a handler.
#include <gtest/gtest.h>

#include <cstdio>

#include <jpeglib.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>

#include "runtime/chunk_name.h"
#include "runtime/command_hooks.h"
#include "runtime/errors.h"
#include "runtime/linked_files.h"
#include "runtime/object_data.h"
#include "runtime/objects.h"
#include "player/plugin_loader.h"
#include "player/service_table.h"
#include "tests/runtime/plugin_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/error_codes.h"
#include "vm/protect.h"
#include "vm/stack_api.h"

namespace {

const vlServiceTable* Svc() { return GetServiceTable(); }

TEST(ServiceTable, HeaderAndEmptySlots) {
  const vlServiceTable* t = Svc();
  EXPECT_EQ(t->version, 6u);
  EXPECT_EQ(t->revision, 1u);
  EXPECT_EQ(t->stdlib->unused51, nullptr);
  EXPECT_EQ(t->system->unused49, nullptr);
  EXPECT_EQ(t->files->unused33, nullptr);
  EXPECT_EQ(t->zlib->unused13, nullptr);
  EXPECT_EQ(t->fonts->unused1, nullptr);
  EXPECT_EQ(t->freetype->slot[38], nullptr);
  EXPECT_EQ(t->checksums->word4, 1);
  EXPECT_EQ(t->checksums->word5, -1);
  EXPECT_EQ(t->checksums->word6, -1);
  // The faces the player carries, each with its own byte count: sans,
  // serif, mono.
  const uint32_t sizes[3] = {65932, 60280, 49224};
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(t->builtinData->fonts[i], nullptr) << i;
    EXPECT_EQ(t->builtinData->fontSizes[i], sizes[i]) << i;
    EXPECT_EQ(std::memcmp(t->builtinData->fonts[i], "\0\1\0\0", 4), 0) << i;
  }
  EXPECT_EQ(t->builtinData->unused[0], 0u);
  // A file no loader recognises is "not recognised", not a status.
  EXPECT_EQ(VL_GFX(t, ProbeImageFile)("/nonexistent/picture.png", nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(VL_GFX(t, LoadImageARGB)("/nonexistent/picture.png", nullptr, nullptr, nullptr, nullptr), nullptr);
  for (vlServiceFn f : t->graphics->slot) EXPECT_NE(f, nullptr);
  for (unsigned i = 0; i < VL_FT_SLOT_END; ++i) EXPECT_NE(t->freetype->slot[i], nullptr) << i;
}

// The libjpeg sub-table works for a plug-in: it encodes and decodes a
// picture through the slots alone.
TEST(ServiceTable, JpegSlots) {
  const vlSvcJpeg* j = Svc()->jpeg;
  for (vlServiceFn f : j->slot) EXPECT_NE(f, nullptr);
  auto stdError = vlSlotAs<jpeg_error_mgr* (*)(jpeg_error_mgr*)>(j->slot[3]);
  auto createCompress = vlSlotAs<void (*)(j_compress_ptr, int, size_t)>(j->slot[8]);
  auto setDefaults = vlSlotAs<void (*)(j_compress_ptr)>(j->slot[12]);
  auto startCompress = vlSlotAs<void (*)(j_compress_ptr, boolean)>(j->slot[11]);
  auto writeScanlines = vlSlotAs<JDIMENSION (*)(j_compress_ptr, JSAMPARRAY, JDIMENSION)>(j->slot[13]);
  auto finishCompress = vlSlotAs<void (*)(j_compress_ptr)>(j->slot[9]);
  auto destroyCompress = vlSlotAs<void (*)(j_compress_ptr)>(j->slot[10]);
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = stdError(&err);
  createCompress(&c, JPEG_LIB_VERSION, sizeof c);
  unsigned char* data = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &data, &size);
  c.image_width = 8;
  c.image_height = 8;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  setDefaults(&c);
  startCompress(&c, TRUE);
  unsigned char row[24];
  memset(row, 200, sizeof row);
  JSAMPROW rows[1] = {row};
  for (int y = 0; y < 8; ++y) writeScanlines(&c, rows, 1);
  finishCompress(&c);
  destroyCompress(&c);
  ASSERT_GT(size, 100u);

  auto createDecompress = vlSlotAs<void (*)(j_decompress_ptr, int, size_t)>(j->slot[0]);
  auto readHeader = vlSlotAs<int (*)(j_decompress_ptr, boolean)>(j->slot[4]);
  auto startDecompress = vlSlotAs<boolean (*)(j_decompress_ptr)>(j->slot[6]);
  auto readScanlines = vlSlotAs<JDIMENSION (*)(j_decompress_ptr, JSAMPARRAY, JDIMENSION)>(j->slot[5]);
  auto finishDecompress = vlSlotAs<boolean (*)(j_decompress_ptr)>(j->slot[1]);
  auto destroyDecompress = vlSlotAs<void (*)(j_decompress_ptr)>(j->slot[2]);
  jpeg_decompress_struct d{};
  d.err = stdError(&err);
  createDecompress(&d, JPEG_LIB_VERSION, sizeof d);
  jpeg_mem_src(&d, data, size);
  ASSERT_EQ(readHeader(&d, TRUE), JPEG_HEADER_OK);
  startDecompress(&d);
  EXPECT_EQ(d.output_width, 8u);
  unsigned char out[24];
  JSAMPROW outRows[1] = {out};
  while (d.output_scanline < d.output_height) readScanlines(&d, outRows, 1);
  EXPECT_NEAR(out[0], 200, 2);
  finishDecompress(&d);
  destroyDecompress(&d);
  free(data);
}

TEST(ServiceTable, Checksums) {
  const char text[] = "The quick brown fox";
  EXPECT_EQ(Svc()->checksums->Crc32Svc(text, 0), -1) << "length 0 is not the CRC of nothing";
  EXPECT_EQ(Svc()->checksums->Crc32Svc(text, -5), -1);
  uint32_t expected = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(text), 19));
  EXPECT_EQ(static_cast<uint32_t>(Svc()->checksums->Crc32Svc(text, 19)), expected);
  using Crc = uLong (*)(uLong, const Bytef*, uInt);
  EXPECT_EQ(reinterpret_cast<Crc>(Svc()->zlib->crc32)(0, reinterpret_cast<const Bytef*>(text), 19), expected);
}

TEST(ServiceTable, CaseFoldingUsesLatin1Tables) {
  const vlSvcStdlib* s = Svc()->stdlib;
  EXPECT_EQ(s->StrCaseCmp("Stra\xDF" "e \xC4", "STRA\xDF" "E \xE4"), 0);
  EXPECT_NE(s->StrCaseCmp("abc", "abd"), 0);
  EXPECT_EQ(s->StrNCaseCmp("ABCx", "abcy", 3), 0);
  EXPECT_EQ(s->ToLowerChar(0xC9), 0xE9);
  EXPECT_EQ(s->ToUpperChar(0xE9), 0xC9);
  char text[] = "Gr\xFC\xDF Gott";
  EXPECT_STREQ(s->StrToUpper(text), "GR\xDC\xDF GOTT");
  EXPECT_STREQ(s->StrToLower(text), "gr\xFC\xDF gott");
}

TEST(ServiceTable, TimeRecords) {
  const vlSvcStdlib* s = Svc()->stdlib;
  EXPECT_EQ(s->MakeTimeRecord(nullptr), -1);
  EXPECT_EQ(s->AscTimeRecord(nullptr), nullptr);
  time_t when = 1000000000;  // 2001-09-09 01:46:40 UTC
  vlPluginTime* gm = s->GmTimeRecord(&when);
  ASSERT_NE(gm, nullptr);
  EXPECT_EQ(gm->size, sizeof(vlPluginTime));
  EXPECT_EQ(gm->year, 101);
  EXPECT_EQ(gm->month, 8);
  EXPECT_EQ(gm->day, 9);
  EXPECT_EQ(gm->hour, 1);
  EXPECT_EQ(gm->minute, 46);
  EXPECT_STREQ(s->AscTimeRecord(gm), "Sun Sep  9 01:46:40 2001\n");
  char buffer[64];
  EXPECT_EQ(s->FormatTimeRecord(buffer, sizeof buffer, "%Y-%m-%d", gm), 10u);
  EXPECT_STREQ(buffer, "2001-09-09");
  // local time round trip; mktime normalises an overflowing field
  vlPluginTime local = *s->LocalTimeRecord(&when);
  EXPECT_EQ(s->MakeTimeRecord(&local), when);
  local.second += 3600;
  EXPECT_EQ(s->MakeTimeRecord(&local), when + 3600);
  EXPECT_LT(local.second, 60);
  double diff = 0;
  EXPECT_EQ(s->DiffTimeOut(when + 5, when, &diff), &diff);
  EXPECT_EQ(diff, 5.0);
}

TEST(ServiceTable, StatRecords) {
  std::string path = testing::TempDir() + "vl_stat_record.bin";
  std::ofstream(path) << std::string(70000, 'x');
  chmod(path.c_str(), 0640);
  vlPluginStat record{};
  record.caller = 0xABCD;
  EXPECT_EQ(Svc()->stdlib->StatRecord(path.c_str(), nullptr), -1);
  ASSERT_EQ(Svc()->stdlib->StatRecord(path.c_str(), &record), 0);
  EXPECT_EQ(record.caller, 0xABCDu) << "word 0 stays as the caller set it";
  EXPECT_EQ(record.sizeLow, 70000u);
  EXPECT_EQ(record.sizeHigh, 0u);
  EXPECT_EQ(record.flags, VL_PSTAT_OWNER_READ | VL_PSTAT_OWNER_WRITE | VL_PSTAT_GROUP_READ);
  ASSERT_EQ(Svc()->stdlib->StatRecord(testing::TempDir().c_str(), &record), 0);
  EXPECT_TRUE(record.flags & VL_PSTAT_DIRECTORY);
  EXPECT_EQ(Svc()->stdlib->StatRecord("/no/such/file", &record), -1);
  std::remove(path.c_str());
}

TEST(ServiceTable, FilesThroughStreams) {
  std::string path = testing::TempDir() + "vl_svc_file.txt";
  const vlSvcFiles* f = Svc()->files;
  void* out = f->OpenFileDefault(path.c_str(), 1);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(f->WriteFileStream(out, "hello", 5), 5);
  EXPECT_EQ(f->WriteFileStreamByte(out, '!'), 1);
  f->CloseFileStream(out);
  void* in = f->OpenFileDefault(path.c_str(), 0);
  ASSERT_NE(in, nullptr);
  char buffer[8] = {};
  EXPECT_EQ(f->ReadFileStream(in, buffer, 8), 6);
  EXPECT_STREQ(buffer, "hello!");
  EXPECT_TRUE(f->IsFileStreamAtEnd(in));
  EXPECT_EQ(f->SeekFileStreamSvc(in, 1, VL_SEEK_BEGIN), 6) << "seeks return the old position";
  EXPECT_EQ(f->ReadFileStreamByte(in), 'e');
  // The player's modes: 0 (SEEK_SET elsewhere) is from here, 2 the end.
  EXPECT_EQ(f->SeekFileStream(in, 1, VL_SEEK_CURRENT), 2);
  EXPECT_EQ(f->ReadFileStreamByte(in), 'l');
  EXPECT_EQ(f->SeekFileStream(in, -2, VL_SEEK_END), 4);
  EXPECT_EQ(f->ReadFileStreamByte(in), 'o');
  f->CloseFileStream(in);
  // a substitute name is opened instead of the given one
  SetServiceSubstituteFileName(path.c_str());
  in = f->OpenFileDefault("/no/such/file", 0);
  SetServiceSubstituteFileName(nullptr);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(f->ReadFileStreamByte(in), 'h');
  f->CloseFileStream(in);
  EXPECT_EQ(f->OpenFileDefault("/no/such/file", 0), nullptr);
  std::remove(path.c_str());
}

TEST(ServiceTable, PathsDirectoriesAndSavedBuffers) {
  const vlSvcFiles* f = Svc()->files;
  std::string base = testing::TempDir() + "vl_svc_paths";
  std::filesystem::remove_all(base);
  ASSERT_EQ(f->MakeDirPath(base.c_str()), 0);
  char path[256];
  std::snprintf(path, sizeof path, "%s", base.c_str());
  ASSERT_NE(f->AddPart(path, sizeof path, "one.bin"), 0);
  EXPECT_EQ(std::string(path), base + "/one.bin");
  EXPECT_STREQ(f->GetFilePart(path), "one.bin");
  EXPECT_STREQ(f->GetReadableFileName(path), "one.bin");

  // written directly, and copied through a memory name
  const char data[] = "0123456789";
  ASSERT_EQ(f->SaveBufferToFile(path, data, 10, 1), 0);
  std::string second = base + "/two.bin";
  ASSERT_EQ(f->SaveBufferToFile(second.c_str(), data + 2, 5, 0), 0);
  std::ifstream one(path), two(second);
  std::string a, b;
  one >> a;
  two >> b;
  EXPECT_EQ(a, "0123456789");
  EXPECT_EQ(b, "23456");
  EXPECT_EQ(f->SaveBufferToFile((base + "/no/dir/x").c_str(), data, 10, 1), ERR_WRITEFILE);
  EXPECT_EQ(std::string(GetErrorArgument()), base + "/no/dir/x");

  EXPECT_EQ(f->RenamePath(second.c_str(), (base + "/three.bin").c_str()), 1);
  EXPECT_EQ(f->LockPath(base.c_str(), 5), nullptr) << "write locks are refused";
  void* lock = f->LockPath(base.c_str(), 4);
  ASSERT_NE(lock, nullptr);
  uint32_t isDir = 0;
  EXPECT_EQ(f->RequireDirectoryLock(lock, &isDir), 0);
  std::map<std::string, uint64_t> seen;
  const char* name = nullptr;
  uint64_t size = 0;
  uint32_t date = 0;
  while (f->NextDirEntrySvc(lock, &name, &isDir, &size, &date)) {
    EXPECT_EQ(isDir, 0u);
    EXPECT_GT(date, 1000000000u);
    seen[name] = size;
  }
  f->FreeFileLock(lock);
  EXPECT_EQ(seen, (std::map<std::string, uint64_t>{{"one.bin", 10}, {"three.bin", 5}}));
  EXPECT_EQ(f->RemovePath(path), 1);
  EXPECT_FALSE(std::filesystem::exists(path));

  char cwd[1024];
  ASSERT_EQ(f->GetCurrentDirName(cwd, sizeof cwd), 1);
  EXPECT_EQ(std::filesystem::path(cwd), std::filesystem::current_path());
  EXPECT_EQ(f->GetCurrentDirName(cwd, 1), 0);
  std::filesystem::remove_all(base);
}

TEST(ServiceTable, ChunkNames) {
  const vlSvcFiles* f = Svc()->files;
  char name[512];
  ASSERT_EQ(MakeChunkName("pics/a.png", name, sizeof name, 300, 4000, 16, "/apps/demo.vla"), 1);
  char path[256];
  int64_t offset = 0, length = 0;
  ASSERT_EQ(f->ResolveChunkName(name, path, sizeof path, &offset, &length), 1);
  EXPECT_STREQ(path, "/apps/demo.vla");
  EXPECT_EQ(offset, 316);
  EXPECT_EQ(length, 4000);
  int64_t record[2] = {};
  EXPECT_EQ(f->GetChunkInfoSvc(name, record), 1);
  EXPECT_EQ(record[0], 316);
  EXPECT_EQ(record[1], 4000);
  EXPECT_EQ(f->ResolveChunkName(name, path, 5, &offset, &length), 0) << "the path does not fit";

  ASSERT_EQ(f->ResolveChunkName("plain/file.txt", path, sizeof path, &offset, &length), 1);
  EXPECT_STREQ(path, "plain/file.txt");
  EXPECT_EQ(offset, -1);
  EXPECT_EQ(length, -1);
  EXPECT_EQ(f->ResolveChunkName("plain/file.txt", path, 14, &offset, &length), 0);
  EXPECT_EQ(f->GetChunkInfoSvc("plain/file.txt", record), 0);
  EXPECT_EQ(record[0], -1);
  EXPECT_EQ(f->ResolveChunkName(":::chunkXYZ", path, sizeof path, &offset, &length), 0);
}

class ServiceWithPlugins : public vltest::PluginDirTest {};

TEST_F(ServiceWithPlugins, ChainHoldsOnlyLoadedPlugins) {
  const vlSvcPlugins* p = Svc()->plugins;
  EXPECT_EQ(p->GetPluginChain(), nullptr);
  Copy("testimage", "_testimage.vlp");
  ASSERT_EQ(ScanPluginDirectory(dir.c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(p->GetPluginChain(), nullptr) << "known but unloaded plug-ins are not in the chain";
  Copy("newer61");
  Copy("reqimage");
  ASSERT_EQ(ScanPluginDirectory(dir.c_str(), nullptr, nullptr), 0);
  vlPluginChainEntry* chain = p->GetPluginChain();
  ASSERT_NE(chain, nullptr);
  int n = 0;
  for (vlPluginChainEntry* e = chain; e; e = e->next) {
    EXPECT_NE(e->info, nullptr);
    EXPECT_NE(std::strcmp(e->info->moduleName, "testimage"), 0);
    ++n;
  }
  EXPECT_EQ(n, 2);
  p->SetPluginUserData(chain->info, 0x1234567890);
  EXPECT_EQ(p->GetPluginUserData(chain->info), 0x1234567890u);
  p->SetPluginDisabled(chain->info, 1);
  EXPECT_EQ(chain->info->disabled, 1u);
  p->FreePluginChain(chain);
}

TEST_F(ServiceWithPlugins, FileTypesAndLoaderClasses) {
  vlPlugin* node = nullptr;
  ASSERT_EQ(LoadPluginFile(Copy("reqimage").c_str(), 0, &node), 0);
  vlPluginInfo* info = node->handle->info;
  const vlSvcSystem* s = Svc()->system;
  ASSERT_EQ(s->AddPluginFileType(info, 4, "Test", nullptr, "*.tst", 99, 0), 0);
  ASSERT_EQ(s->AddPluginFileType(info, 4, "Other", "image/x-other", "*.oth", 12, 1), 0);
  ASSERT_NE(info->fileTypes, nullptr);
  EXPECT_STREQ(info->fileTypes->name, "Test");
  EXPECT_EQ(info->fileTypes->mimeType, nullptr);
  EXPECT_EQ(info->fileTypes->formatId, 0u) << "kept only with flag bit 0";
  ASSERT_NE(info->fileTypes->next, nullptr);
  EXPECT_STREQ(info->fileTypes->next->mimeType, "image/x-other");
  EXPECT_EQ(info->fileTypes->next->formatId, 12u);

  EXPECT_EQ(s->AddLoaderToClass(info, 5), ERR_WRONGUSAGE);
  EXPECT_EQ(s->AddLoaderToClass(info, VL_CLASS_IMAGE), 0);
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_IMAGE)->plugin, info);
  s->RemoveLoaderFromClass(info, VL_CLASS_IMAGE);
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_IMAGE), nullptr);
  EXPECT_EQ(s->SetFileAdapterWord(info, VL_CLASS_IMAGE, 5), ERR_WRONGUSAGE);
  EXPECT_EQ(s->SetFileAdapterWord(info, VL_CLASS_FILEADAPTER, 5), 0);
  EXPECT_EQ(info->adapterWords[2], 5u);
}

TEST_F(ServiceWithPlugins, SystemTags) {
  vlOptions.callbackNesting = 0;
  uint32_t gtk = 7;
  vlTagItem tags[] = {{25, 99}, {31, 2}, {32, reinterpret_cast<uintptr_t>(&gtk)}, {1234, 0}, {38, 0}, {0, 0}};
  L->g->quitDefault = 0;
  EXPECT_EQ(Svc()->system->SystemTags(L, tags), 4);
  EXPECT_EQ(tags[0].value, 0u);
  EXPECT_EQ(vlOptions.callbackNesting, 2);
  EXPECT_EQ(gtk, 0u);
  EXPECT_EQ(L->g->quitDefault, 1);
  SetCurrentFunctionName("Foo");
  vlTagItem reset[] = {{40, 0}, {31, static_cast<uintptr_t>(-2)}, {0, 0}};
  EXPECT_EQ(Svc()->system->SystemTags(L, reset), 2);
  EXPECT_EQ(L->g->quitDefault, 0);
  EXPECT_STREQ(GetCurrentFunctionName(), "----");
  EXPECT_EQ(vlOptions.callbackNesting, 0);
  // A lowering past 0 leaves the counter at 0.
  vlTagItem lower[] = {{31, static_cast<uintptr_t>(-1)}, {0, 0}};
  EXPECT_EQ(Svc()->system->SystemTags(L, lower), 1);
  EXPECT_EQ(vlOptions.callbackNesting, 0);
}

TEST_F(ServiceWithPlugins, VMSlotsOfTheRuntime) {
  const vlPluginVMTable* vm = Svc()->vm;
  vl::SetStackTop(L, 0);
  vl::PushNumber(L, 12);
  vl::PushPointer(L, &vm);
  vl::PushNil(L);
  vlObjectId id{};
  EXPECT_EQ(vm->GetObjectIDArgSvc(L, 1, &id), 0);
  EXPECT_EQ(id.number, 12);
  EXPECT_EQ(id.handle, nullptr);
  EXPECT_EQ(vm->GetObjectIDArgSvc(L, 2, &id), 0);
  EXPECT_EQ(id.handle, &vm);
  EXPECT_EQ(vm->GetObjectIDArgOptSvc(L, 3, &id), 1) << "nil asks for an automatic id";
  int raised = vl::RunProtectedFn(L, [&] { vm->RaiseErrorSvc(L, ERR_FINDTIMER); });
  EXPECT_EQ(raised, ERR_FINDTIMER);
  vl::SetStackTop(L, 0);
  vl::PushString(L, "pics/a.png");
  ASSERT_EQ(AddLinkedFile("pics/a.png", "/x/app.vla", 100, 50), 0);
  const char* name = nullptr;
  EXPECT_EQ(vl::RunProtectedFn(L, [&] { name = vm->GetFileNameArgSvc(L, 1); }), 0);
  ASSERT_NE(name, nullptr);
  EXPECT_NE(std::strcmp(name, "pics/a.png"), 0) << "resolved to the linked chunk: " << name;
  FreeLinkedFiles();
  vl::SetStackTop(L, 0);
  vl::PushNewTable(L);
  EXPECT_EQ(vl::RunProtectedFn(L, [&] { vm->GetFileNameArgSvc(L, 1); }), ERR_STREXPECTED);
}

// An object type of a plug-in: a new code whose list the registry keeps
// (and frees at shut-down); user data freed through the address of its
// list head, a null address doing nothing.
TEST_F(ServiceWithPlugins, PluginObjectTypesAndTheirUserData) {
  const vlSvcSystem* sys = Svc()->system;
  const uint32_t type = sys->RegisterObjectTypeSvc("PROBEOBJ", nullptr, 0);
  EXPECT_GE(type, 58u);
  EXPECT_STREQ(FindObjectTypeName(type), "PROBEOBJ");
  EXPECT_EQ(sys->RegisterObjectTypeSvc("PROBEOBJ2", nullptr, 0), type + 1);
  vl::SetStackTop(L, 0);
  vl::PushNumber(L, 7);
  vlObjectData* list = nullptr;
  ASSERT_EQ(SetObjectDataItem(L, "a", 1, &list), 0);
  ASSERT_EQ(SetObjectDataItem(L, "b", 1, &list), 0);
  ASSERT_NE(list, nullptr);
  sys->FreeObjectDataList(L, reinterpret_cast<void**>(&list));
  EXPECT_EQ(list, nullptr);
  sys->FreeObjectDataList(L, nullptr);
  FreeObjectRegistries();
  EXPECT_EQ(FindObjectTypeName(type), nullptr);
}

// Command hooks: a hook takes over one handler; errors raised by the VM's
// services while it runs go to its error function.
int Original(vlVMState* L) {
  vl::PushNumber(L, 1);
  return 1;
}
int HookBody(vlCommandHook*, vlVMState* L, vlNativeFn handler, void* userData) {
  ++*static_cast<int*>(userData);
  EXPECT_EQ(handler, Original);
  Svc()->vm->RaiseErrorSvc(L, ERR_FINDTIMER);  // taken by the error function
  vl::PushNumber(L, 2);
  return 1;
}
int gForwarded = 0;
int HookError(vlCommandHook*, vlVMState*, int code, void*) {
  gForwarded = code;
  return 1;
}

TEST_F(ServiceWithPlugins, CommandHooksTakeOverHandlers) {
  ASSERT_EQ(InitPlugins(L), 0);  // installs the hook routing
  int calls = 0;
  const vlSvcSystem* s = Svc()->system;
  vlCommandHook* hook = s->AddCommandHook(HookBody, nullptr, &calls);
  ASSERT_NE(hook, nullptr);
  EXPECT_EQ(s->HookCommand(hook, Original), 1);
  EXPECT_EQ(s->HookCommand(hook, Original), 1);
  EXPECT_EQ(hook->handlers->next, nullptr) << "no duplicates";
  s->SetCommandHookErrorHandler(hook, HookError);
  EXPECT_EQ(s->GetCommandHookErrorHandler(hook), HookError);
  vltest::SetGlobalNative(L, "original", Original);
  ASSERT_EQ(vltest::RunScript(L, ".call original -> r\nret\n"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "r"), 2);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(gForwarded, ERR_FINDTIMER);
  s->SetCommandHookDisabled(hook, 1);
  ASSERT_EQ(vltest::RunScript(L, ".call original -> r\nret\n"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "r"), 1);
  // without an error function the error unwinds as usual
  s->SetCommandHookDisabled(hook, 0);
  s->SetCommandHookErrorHandler(hook, nullptr);
  EXPECT_EQ(vltest::RunScript(L, ".call original -> r\nret\n"), ERR_FINDTIMER);
  s->RemoveCommandHook(hook);
  ASSERT_EQ(vltest::RunScript(L, ".call original -> r\nret\n"), 0);
  EXPECT_EQ(vltest::GlobalNumber(L, "r"), 1);
  ClosePlugins();
}

}  // namespace
