# Test plug-ins: one source built in variants, each a ".vlp" module that
# knows the player only through the service table.
set(VL_TEST_PLUGIN_DIR ${CMAKE_CURRENT_BINARY_DIR}/plugins)
set(VL_TEST_PLUGINS)
function(vl_test_plugin file)
  set(target test_plugin_${file})
  add_library(${target} MODULE plugins/test_plugin.cpp)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".vlp" OUTPUT_NAME ${file}
                        LIBRARY_OUTPUT_DIRECTORY ${VL_TEST_PLUGIN_DIR} CXX_VISIBILITY_PRESET hidden)
  target_compile_definitions(${target} PRIVATE ${ARGN})
  if(NOT VL_SANITIZE)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
  set(VL_TEST_PLUGINS ${VL_TEST_PLUGINS} ${target} PARENT_SCOPE)
endfunction()
vl_test_plugin(testimage PLUGIN_MODULE="testimage")
vl_test_plugin(missingsym PLUGIN_MODULE="missingsym" PLUGIN_OMIT_TRANSFORM)
vl_test_plugin(noclose PLUGIN_MODULE="noclose" PLUGIN_NO_CLOSE)
vl_test_plugin(initfails PLUGIN_MODULE="initfails" PLUGIN_INIT_FAILS)
vl_test_plugin(wrongname PLUGIN_MODULE="other")
vl_test_plugin(native PLUGIN_MODULE="NATIVE")
vl_test_plugin(newer61 PLUGIN_MODULE="newer61" PLUGIN_PROGVER=6 PLUGIN_PROGREV=1)
vl_test_plugin(newer62 PLUGIN_MODULE="newer62" PLUGIN_PROGVER=6 PLUGIN_PROGREV=2)
vl_test_plugin(newer70 PLUGIN_MODULE="newer70" PLUGIN_PROGVER=7 PLUGIN_PROGREV=0)
vl_test_plugin(extonly PLUGIN_MODULE="extonly" PLUGIN_CAPS=PLUGINCAPS_EXTENSIONS)
vl_test_plugin(reqimage PLUGIN_MODULE="reqimage" "PLUGIN_CAPS=(PLUGINCAPS_IMAGE|PLUGINCAPS_EXTENSIONS)"
               PLUGIN_EXTENSION=PLUGINCAPS_IMAGE)
vl_test_plugin(testlib PLUGIN_MODULE="testlib"
               "PLUGIN_CAPS=(PLUGINCAPS_LIBRARY|PLUGINCAPS_SAVEIMAGE|PLUGINCAPS_SAVEANIM|PLUGINCAPS_SAVESAMPLE|PLUGINCAPS_REQUIRE|PLUGINCAPS_FILEADAPTER)")
vl_test_plugin(endless PLUGIN_MODULE="endless" PLUGIN_CAPS=PLUGINCAPS_SAVEIMAGE PLUGIN_ENDLESS_SAVER)
vl_test_plugin(nobase PLUGIN_MODULE="nobase" PLUGIN_CAPS=PLUGINCAPS_LIBRARY PLUGIN_NO_BASE)
vl_test_plugin(lazylib PLUGIN_MODULE="lazylib" "PLUGIN_CAPS=(PLUGINCAPS_LIBRARY|PLUGINCAPS_EXTENSIONS)"
               PLUGIN_EXTENSION=PLUGINCAPS_LIBRARY PLUGIN_EXTENSION_VALUE=2)
vl_test_plugin(optplug PLUGIN_MODULE="optplug" "PLUGIN_CAPS=(PLUGINCAPS_IMAGE|PLUGINCAPS_REQUIRE)"
               PLUGIN_OPTION_TAGS)
vl_test_plugin(gfxsvc PLUGIN_MODULE="gfxsvc" PLUGIN_CAPS=PLUGINCAPS_LIBRARY PLUGIN_GRAPHICS_SERVICES)

vl_test(runtime_plugins_test
  SOURCES plugins_test.cpp plugin_formats_test.cpp service_table_test.cpp system_plugins_test.cpp
          c_plugin_test.cpp plugin_layout.c ${PROJECT_SOURCE_DIR}/tests/vm/script_util.cpp
  DEPS player vl_chunkasm ZLIB::ZLIB)
# The layout rows are read by a C99 compiler as a plug-in written in C would.
set_source_files_properties(plugin_layout.c PROPERTIES COMPILE_OPTIONS "-std=c99;-Wpedantic")
target_compile_definitions(runtime_plugins_test PRIVATE VL_TEST_PLUGIN_DIR="${VL_TEST_PLUGIN_DIR}"
                           VL_SAMPLE_PLUGIN="$<TARGET_FILE:sample_plugin>")
add_dependencies(runtime_plugins_test ${VL_TEST_PLUGINS} sample_plugin)

# The display and pixel services as a plug-in meets them, on Xvfb.
vl_test(runtime_plugin_display_test SOURCES plugin_display_test.cpp ${PROJECT_SOURCE_DIR}/tests/vm/script_util.cpp
        DEPS player vl_chunkasm)
target_compile_definitions(runtime_plugin_display_test PRIVATE VL_TEST_PLUGIN_DIR="${VL_TEST_PLUGIN_DIR}")
add_dependencies(runtime_plugin_display_test test_plugin_gfxsvc)

vl_test(runtime_checksums_test SOURCES checksums_test.cpp DEPS player)

# The Base64 fuzz target's seed corpus, replayed without libFuzzer.
add_executable(fuzz_base64_replay ${PROJECT_SOURCE_DIR}/fuzz/base64_fuzz.cpp ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
target_link_libraries(fuzz_base64_replay PRIVATE runtime)
add_test(NAME fuzz_base64_corpus_replay COMMAND fuzz_base64_replay ${PROJECT_SOURCE_DIR}/fuzz/corpus/base64)
