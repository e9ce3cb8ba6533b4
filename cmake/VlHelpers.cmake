# vl_library(name SOURCES ... [DEPS ...]): a subsystem's static library.
function(vl_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_link_libraries(${name} PUBLIC ${A_DEPS})
endfunction()

# vl_test(name SOURCES ... [DEPS ...] [SERIAL]): one GoogleTest binary; each
# TEST becomes its own ctest case so ctest -j spreads them over the cores.
# SERIAL runs its cases alone: tests that count every video frame shown
# and every sound sample written measure a player that has the cores it
# would have in use, not one starved by a hundred others. The labels let
# scripts/test find these programs, to run them whole: "alone" for the
# SERIAL ones, "program" for the others.
function(vl_test name)
  cmake_parse_arguments(A "SERIAL" "" "SOURCES;DEPS" ${ARGN})
  set(properties PROPERTIES LABELS program)
  if(A_SERIAL)
    set(properties PROPERTIES LABELS alone RUN_SERIAL TRUE)
  endif()
  add_executable(${name} ${A_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/test_main.cpp)
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest Threads::Threads)
  # Paths reach the tests through the shared main (VL_SOURCE_DIR, VL_TESTDATA).
  target_compile_definitions(${name} PRIVATE
    VL_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VL_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/../shared/testdata")
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
    DISCOVERY_TIMEOUT 60
    ${properties})
endfunction()

# vl_subsystem_library(name [DEPS ...]): the static library of a subsystem
# whose code sits in several folders (libraries/dos, media/sound, ...). It
# takes every .cpp under the folder, so parallel work on its folders never
# edits one source list; nothing is made until the first source exists.
function(vl_subsystem_library name)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  endif()
endfunction()

# vl_test_folders(): adds every sub-folder of the current tests folder that
# has its own CMakeLists.txt (tests/libraries/dos, tests/media/sound, ...).
function(vl_test_folders)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
