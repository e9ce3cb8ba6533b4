// Loader lists and what loaded plug-ins give scripts: request-only loaders
// joining a class when a list names them, command libraries callable from
// an assembled script, library registry entries and saver-format constants.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "runtime/class_lists.h"
#include "runtime/file_adapter.h"
#include "runtime/objects.h"
#include "runtime/plugin_formats.h"
#include "player/plugin_loader.h"
#include "runtime/stream.h"
#include "tests/runtime/plugin_test_util.h"
#include "tests/vm/script_util.h"
#include "vm/constants.h"
#include "vm/error_codes.h"

namespace {

class PluginFormats : public vltest::PluginDirTest {
 protected:
  vlPlugin* LoadFile(const std::string& built, const std::string& as = "") {
    vlPlugin* node = nullptr;
    EXPECT_EQ(LoadPluginFile(Copy(built, as).c_str(), 0, &node), 0);
    return node;
  }
  double Constant(const char* name) {
    const char* text = nullptr;
    double number = NAN;
    if (!vl::FindConstant(L, name, &text, &number)) return NAN;
    return number;
  }
  bool HasLibrary(const char* name) {
    for (const vlLibraryNode* l = FirstLibrary(); l; l = l->next)
      if (std::strcmp(l->name, name) == 0) return true;
    return false;
  }
};

TEST(LoaderNames, BuiltinNamesAndLoaderNames) {
  EXPECT_EQ(IsBuiltinLoaderName(nullptr), 1);
  EXPECT_EQ(IsBuiltinLoaderName(""), 1);
  EXPECT_EQ(IsBuiltinLoaderName("DEFAULT"), 1);
  EXPECT_EQ(IsBuiltinLoaderName("Inbuilt"), 1);
  EXPECT_EQ(IsBuiltinLoaderName("native"), 1);
  EXPECT_EQ(IsBuiltinLoaderName("plugin"), 0);
  EXPECT_EQ(IsBuiltinLoaderName("svgimage"), 0);
  EXPECT_STREQ(GetLoaderName(nullptr), "inbuilt");
  EXPECT_STREQ(GetLoaderName(reinterpret_cast<const vlPluginInfo*>(uintptr_t{1})), "native");
}

TEST_F(PluginFormats, ARequestOnlyLoaderJoinsWhenNamed) {
  vlPlugin* node = LoadFile("reqimage");
  ASSERT_NE(node, nullptr);
  vlPluginInfo* info = node->handle->info;
  EXPECT_STREQ(GetLoaderName(info), "reqimage");
  BuildLoaderList("default", VL_CLASS_IMAGE);
  BuildLoaderList("", VL_CLASS_IMAGE);
  BuildLoaderList("plugin|inbuilt|reqimag", VL_CLASS_IMAGE);  // a piece of the name is no name
  BuildLoaderList("ReqImage", VL_CLASS_ANIM);                 // no anim capability
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_IMAGE), nullptr);
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_ANIM), nullptr);
  EXPECT_EQ(info->joinedOnRequest, 0u);

  BuildLoaderList("inbuilt|nothere|REQIMAGE", VL_CLASS_IMAGE);
  ASSERT_NE(GetLoaderClassList(VL_CLASS_IMAGE), nullptr);
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_IMAGE)->plugin, info);
  EXPECT_EQ(info->joinedOnRequest, 1u);
  BuildLoaderList("reqimage", VL_CLASS_IMAGE);
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_IMAGE)->next, nullptr) << "joins once";
}

TEST_F(PluginFormats, DisabledPluginsAreNotAdded) {
  vlPlugin* node = LoadFile("reqimage");
  ASSERT_NE(node, nullptr);
  node->handle->info->disabled = 1;
  BuildLoaderList("reqimage", VL_CLASS_IMAGE);
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_IMAGE), nullptr);
}

TEST_F(PluginFormats, LibraryCommandsAreCallableFromAScript) {
  vlPlugin* node = LoadFile("testlib");
  ASSERT_NE(node, nullptr);
  ASSERT_EQ(InitPlugins(L), 0);
  EXPECT_EQ(node->handle->info->librariesInitialised, 1u);
  EXPECT_TRUE(HasLibrary("testlib"));
  EXPECT_EQ(Constant("TESTLIB_ANSWER"), 42);
  EXPECT_EQ(vltest::GlobalNumber(L, "testlib_ready"), 1) << "InitLibrary ran";

  ASSERT_EQ(vltest::RunScript(L,
                              "getglobal 0 \"testlib\"\n"
                              "getfield 0 0 \"add\"\n"
                              "loadk 1 #2.5\n"
                              "loadk 2 #4\n"
                              "call 0 3 2\n"
                              "setglobal 0 \"r\"\n"
                              "ret\n"),
            0);
  EXPECT_EQ(vltest::GlobalNumber(L, "r"), 6.5);

  // errors raised through the service table reach the script's caller
  EXPECT_EQ(vltest::RunScript(L,
                              "getglobal 0 \"testlib\"\n"
                              "getfield 0 0 \"fail\"\n"
                              "loadk 1 #1234\n"
                              "call 0 2 1\n"
                              "ret\n"),
            1234);
  EXPECT_EQ(vltest::RunScript(L,
                              "getglobal 0 \"testlib\"\n"
                              "getfield 0 0 \"add\"\n"
                              "loadk 1 \"x\"\n"
                              "call 0 2 2\n"
                              "ret\n"),
            ERR_NUMEXPECTED);
}

TEST_F(PluginFormats, SaverFormatsBecomeConstants) {
  vlPlugin* node = LoadFile("testlib");
  ASSERT_NE(node, nullptr);
  ASSERT_EQ(RegisterPluginFormats(L, node), 0);
  EXPECT_EQ(Constant("IMGFMT_TESTPNG"), 0x10001);
  EXPECT_EQ(Constant("imgfmt_testbmp"), 4294967280.0) << "format ids are unsigned";
  EXPECT_EQ(Constant("ANMFMT_TESTANIM"), 7);
  vlPluginInfo* info = node->handle->info;
  ASSERT_NE(info->imageSaverFormats, nullptr);
  EXPECT_STREQ(info->imageSaverFormats[1].name, "testbmp");
  EXPECT_EQ(info->imageSaverFormats[2].name, nullptr);
  EXPECT_EQ(info->imageSaverFormats[3].name, nullptr);
  // one register call without the more-bit: one record and two zero ones
  ASSERT_NE(info->animSaverFormats, nullptr);
  EXPECT_EQ(info->animSaverFormats[0].formatId, 7u);
  EXPECT_EQ(info->animSaverFormats[1].formatId, 0u);
  EXPECT_EQ(info->animSaverFormats[1].name, nullptr);
  // A sample format is SMPFMT_ and its name, in any case.
  EXPECT_EQ(Constant("SMPFMT_TESTWAVE"), 9);
  EXPECT_EQ(Constant("smpfmt_testwave"), 9);
  ASSERT_NE(info->sampleSaverFormats, nullptr);
  EXPECT_STREQ(info->sampleSaverFormats[0].name, "TestWave");
}

TEST_F(PluginFormats, ASaverListThatNeverEndsIsCut) {
  vlPlugin* node = LoadFile("endless");
  ASSERT_NE(node, nullptr);
  ASSERT_EQ(RegisterPluginFormats(L, node), 0);
  vlSaverFormat* table = node->handle->info->imageSaverFormats;
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table[1023].formatId, 2048u) << "the second pass answers from call 1025 on";
  EXPECT_EQ(table[1024].formatId, 0u);
  EXPECT_EQ(table[1025].formatId, 0u);
  EXPECT_EQ(Constant(("imgfmt_" + std::string(1024, 'x')).c_str()), 1025);
  EXPECT_EQ(Constant(("imgfmt_" + std::string(1025, 'x')).c_str()), 1026);
  EXPECT_TRUE(std::isnan(Constant(("imgfmt_" + std::string(2047, 'x')).c_str())))
      << "no room was counted for it";
}

TEST_F(PluginFormats, LibraryWithoutBaseNameIsCalledPlugin) {
  vlPlugin* node = LoadFile("nobase");
  ASSERT_NE(node, nullptr);
  ASSERT_EQ(InitPlugins(L), 0);
  EXPECT_TRUE(HasLibrary("plugin"));
  EXPECT_EQ(vltest::RunScript(L,
                              "getglobal 0 \"add\"\n"
                              "loadk 1 #1\n"
                              "loadk 2 #2\n"
                              "call 0 3 2\n"
                              "setglobal 0 \"r\"\n"
                              "ret\n"),
            0);
  EXPECT_EQ(vltest::GlobalNumber(L, "r"), 3);
}

TEST_F(PluginFormats, LazyLibrariesOpenOnActivation) {
  vlPlugin* node = LoadFile("lazylib");
  ASSERT_NE(node, nullptr);
  ASSERT_EQ(InitPlugins(L), 0);
  EXPECT_EQ(node->handle->info->librariesInitialised, 0u);
  EXPECT_TRUE(std::isnan(Constant("TESTLIB_ANSWER")));
  ASSERT_EQ(ActivatePlugin(L, "lazylib", 0, 0, 1, 0, nullptr, nullptr), 0);
  EXPECT_EQ(Constant("TESTLIB_ANSWER"), 42) << "the constants pass registers constants";
  EXPECT_EQ(node->handle->info->librariesInitialised, 0u);
  ASSERT_EQ(ActivatePlugin(L, "lazylib", 0, 0, 0, 0, nullptr, nullptr), 0);
  EXPECT_EQ(node->handle->info->librariesInitialised, 1u);
  EXPECT_EQ(vltest::GlobalNumber(L, "testlib_ready"), 1);
}

TEST_F(PluginFormats, FileAdapterPluginsServeThroughTheStreamLayer) {
  vlPlugin* node = LoadFile("testlib");
  ASSERT_NE(node, nullptr);
  vlPluginInfo* info = node->handle->info;
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_FILEADAPTER), nullptr) << "file adapters join on request";
  BuildLoaderList("testlib", VL_CLASS_FILEADAPTER);
  vlClassNode* member = GetLoaderClassList(VL_CLASS_FILEADAPTER);
  ASSERT_NE(member, nullptr);
  vlFileAdapter* adapter = GetFileAdapter(member);
  ASSERT_NE(adapter, nullptr);
  EXPECT_STREQ(adapter->name, "testlib");
  EXPECT_EQ(adapter->slots->FOpen, info->FOpen);
  EXPECT_EQ(adapter->slots->Stat, info->Stat);
  EXPECT_EQ(adapter->namedOnly, 1u);
  EXPECT_TRUE(IsAdapterSelected(adapter, "testlib"));
  EXPECT_FALSE(IsAdapterSelected(adapter, "plugin")) << "a request-only member must be named";
  info->disabled = 1;
  EXPECT_EQ(GetFileAdapter(member)->disabled, 1u);
}

TEST_F(PluginFormats, StreamsAndLocksBringInTheAdaptersTheirListNames) {
  vlPlugin* node = LoadFile("testlib");
  ASSERT_NE(node, nullptr);
  std::string missing = dir + "/missing.txt";
  EXPECT_EQ(OpenFileStream(missing.c_str(), VL_MODE_READ | VL_MODE_ADAPTERS, "inbuilt"), nullptr);
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_FILEADAPTER), nullptr);
  // the adapter is asked (and refuses), so the built-in back end answers
  EXPECT_EQ(OpenFileStream(missing.c_str(), VL_MODE_READ | VL_MODE_ADAPTERS, "testlib"), nullptr);
  ASSERT_NE(GetLoaderClassList(VL_CLASS_FILEADAPTER), nullptr);
  EXPECT_EQ(GetLoaderClassList(VL_CLASS_FILEADAPTER)->plugin, node->handle->info);
  EXPECT_EQ(node->handle->info->joinedOnRequest, 1u);
}

}  // namespace
