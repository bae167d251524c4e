# Windows build: the program, its Win32 layer and the test executables that ctest runs under Wine.
set(STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
set(WIN32_LIBS comctl32 wininet ws2_32 winmm advapi32 user32 gdi32 shell32 ole32 uuid kernel32)

target_compile_definitions(varnet_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

file(GLOB WIN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/*/*_win.cpp)
list(FILTER WIN_SOURCES EXCLUDE REGEX "/winmain_win\\.cpp$")
add_library(varnet_win STATIC ${WIN_SOURCES})
target_link_libraries(varnet_win PUBLIC varnet_core ${WIN32_LIBS})
target_compile_options(varnet_win PRIVATE ${VARNET_WARNINGS})
target_compile_definitions(varnet_win PRIVATE VARNET_MASTER_URL="${VARNET_MASTER_URL}")
# A build that stamps each step of a refresh pass into varnet-trace.txt (see docs/performance.md).
option(VARNET_TRACE "Write the timing stamps of every refresh pass" OFF)
if(VARNET_TRACE)
  target_compile_definitions(varnet_win PUBLIC VARNET_TRACE)
endif()

enable_language(RC)
set(RC_FILE ${CMAKE_SOURCE_DIR}/res/varnet.rc)
add_executable(VarnetBrowser WIN32 ${CMAKE_SOURCE_DIR}/src/app/winmain_win.cpp)
if(EXISTS ${RC_FILE})
  target_sources(VarnetBrowser PRIVATE ${RC_FILE})
  # Ninja does not see what the .rc pulls in; name it, so icon edits rebuild the resources.
  file(GLOB RC_INPUTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/icons/*.ico)
  set_property(SOURCE ${RC_FILE} APPEND PROPERTY OBJECT_DEPENDS
               ${CMAKE_SOURCE_DIR}/res/VarnetBrowser.manifest ${CMAKE_SOURCE_DIR}/res/resource.h ${RC_INPUTS})
endif()
target_link_libraries(VarnetBrowser PRIVATE varnet_win ${STATIC_RUNTIME})
target_compile_options(VarnetBrowser PRIVATE ${VARNET_WARNINGS})
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I ${CMAKE_SOURCE_DIR}/res")

# GoogleTest from the system's sources, built with the cross compiler. Without them (a build on
# Windows itself, say) only the program and the package are made.
set(VARNET_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the test executables")
if(NOT EXISTS ${VARNET_GTEST_SOURCE}/CMakeLists.txt)
  message(STATUS "No GoogleTest sources at ${VARNET_GTEST_SOURCE}: building the program only")
  include(${CMAKE_SOURCE_DIR}/cmake/package.cmake)
  return()
endif()
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VARNET_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE -O0)
target_compile_options(gtest_main PRIVATE -O0)

# The portable suite once more, to prove the cross build and the Wine path.
list(FILTER NATIVE_TEST_SOURCES EXCLUDE REGEX "/(lab|masterd)_[^/]*$")  # tests of the Linux programs
add_executable(core_tests ${NATIVE_TEST_SOURCES})
target_link_libraries(core_tests PRIVATE varnet_core gtest_main ${STATIC_RUNTIME})
target_compile_options(core_tests PRIVATE ${VARNET_TEST_OPTIONS})
add_test(NAME core_tests COMMAND core_tests)

# Helpers shared by the Win32 tests: test windows, fake servers, message pumping.
file(GLOB WIN_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/windows/support/*.cpp)
add_library(wintest_support STATIC ${WIN_TEST_SUPPORT})
target_include_directories(wintest_support PUBLIC ${CMAKE_SOURCE_DIR}/tests/windows/support)
target_link_libraries(wintest_support PUBLIC varnet_win gtest)
target_compile_options(wintest_support PRIVATE ${VARNET_TEST_OPTIONS})
# Most of what is left of a test file's compile time is GoogleTest's and Windows' headers: every
# Win32 test uses the support library's precompiled ones.
target_precompile_headers(wintest_support PRIVATE <winsock2.h> <windows.h> <commctrl.h> <gtest/gtest.h> <functional>
                          <string> <vector>)

# The lab of simulated servers is a native program, built by the native preset.
set(VARNET_LAB ${CMAKE_SOURCE_DIR}/build/native/bin/varnet-lab CACHE FILEPATH "The native lab program")

# One executable per Win32 test file: each starts from a clean process with its own globals.
file(GLOB WIN_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/windows/*_test.cpp)
foreach(test_source ${WIN_TESTS})
  get_filename_component(name ${test_source} NAME_WE)
  add_executable(${name} ${test_source})
  target_link_libraries(${name} PRIVATE wintest_support gtest_main ${STATIC_RUNTIME})
  target_compile_options(${name} PRIVATE ${VARNET_TEST_OPTIONS})
  target_precompile_headers(${name} REUSE_FROM wintest_support)
  # A test with a sibling NAME.lab config runs while the native lab serves that config.
  set(lab_config ${CMAKE_SOURCE_DIR}/tests/windows/${name}.lab)
  if(EXISTS ${lab_config})
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/scripts/lib/with-lab.sh
             ${VARNET_LAB} ${lab_config} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endforeach()

# Tests that need the program's icons and dialog templates (and its manifest: the controls of
# version 6, drawn with the visual style when one is on).
foreach(t main_window_test config_dialog_test query_pass_test)
  if(TARGET ${t} AND EXISTS ${RC_FILE})
    target_sources(${t} PRIVATE ${RC_FILE})
  endif()
endforeach()
foreach(t master_dialog_test master_lab_test hostile_master_test)
  if(TARGET ${t} AND EXISTS ${RC_FILE})
    target_sources(${t} PRIVATE ${RC_FILE})
  endif()
endforeach()

# The layout once more at 150 % and 200 %, one after the other in a private prefix set to that dpi.
# The list's pixels once more without the visual style (Wine's light one is on by default).
if(TARGET query_pass_test AND EXISTS ${RC_FILE})
  add_test(NAME query_pass_unstyled COMMAND env VARNET_TEST_THEME=none bash
           ${CMAKE_SOURCE_DIR}/tests/windows/support/dpi_prefix.sh 96 ${WINE_PROGRAM}
           $<TARGET_FILE:query_pass_test> --gtest_filter=*RepaintFromScratch*)
  set_tests_properties(query_pass_unstyled PROPERTIES TIMEOUT 300 RESOURCE_LOCK varnet_dpi_prefix)
  target_link_libraries(query_pass_test PRIVATE uxtheme)
endif()
foreach(dpi 144 192)
  if(TARGET main_window_test AND EXISTS ${RC_FILE})
    add_test(NAME main_window_dpi${dpi} COMMAND bash ${CMAKE_SOURCE_DIR}/tests/windows/support/dpi_prefix.sh ${dpi}
             ${WINE_PROGRAM} $<TARGET_FILE:main_window_test> --gtest_filter=*LaidOutAtTheDisplayDpi*)
    set_tests_properties(main_window_dpi${dpi} PROPERTIES TIMEOUT 300 RESOURCE_LOCK varnet_dpi_prefix)
  endif()
endforeach()

# The drive-search test walks every drive from C: to Z:, so its wrapper runs it in a private
# Wine prefix whose only drives are C: and a scratch D:.
set(LAUNCH_DRIVES_WRAPPER ${CMAKE_SOURCE_DIR}/tests/windows/support/launch_drives.sh)
if(EXISTS ${LAUNCH_DRIVES_WRAPPER} AND TARGET launch_drives_test)
  set_property(TARGET launch_drives_test PROPERTY CROSSCOMPILING_EMULATOR ${LAUNCH_DRIVES_WRAPPER} ${WINE_PROGRAM})
endif()

# Release package (CPack ZIP).
include(${CMAKE_SOURCE_DIR}/cmake/package.cmake)

# End-to-end tests: the real program as a process of its own under Wine and Xvfb, against the
# lab, driven from outside by the probe and xdotool. Each makes a fresh Wine prefix (a copy of the
# template that scripts/lib/wine.sh makes once), and takes its ports from scripts/lib/ports.sh:
# Update fetches from the lab's master through MasterURL.
# The checks of the built-in address and the races run a build of the program that differs only
# in its master address, a port of its own that no real master uses, and its download deadline
# (15 s, so that a race can wait for it): its own settings_win and fetch_win objects stand in for
# the library's.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/journey.sh AND EXISTS ${CMAKE_SOURCE_DIR}/tools/probe/CMakeLists.txt
   AND EXISTS ${CMAKE_SOURCE_DIR}/tools/fakegame/CMakeLists.txt)
  add_executable(races_browser WIN32 ${CMAKE_SOURCE_DIR}/src/app/winmain_win.cpp
                 ${CMAKE_SOURCE_DIR}/src/settings/settings_win.cpp ${CMAKE_SOURCE_DIR}/src/master/fetch_win.cpp)
  if(EXISTS ${RC_FILE})
    target_sources(races_browser PRIVATE ${RC_FILE})
  endif()
  target_compile_definitions(races_browser PRIVATE VARNET_MASTER_URL="http://127.0.0.1:28050/servers.txt"
                             VARNET_MASTER_DEADLINE_MS=15000)
  target_link_libraries(races_browser PRIVATE varnet_win ${STATIC_RUNTIME})
  target_compile_options(races_browser PRIVATE ${VARNET_WARNINGS})
  foreach(e2e journey close)
    add_test(NAME e2e_${e2e} COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/${e2e}.sh $<TARGET_FILE:VarnetBrowser>
             $<TARGET_FILE:probe> $<TARGET_FILE:fakegame> ${VARNET_LAB} $<TARGET_FILE:races_browser>)
    set_tests_properties(e2e_${e2e} PROPERTIES TIMEOUT 240)
  endforeach()
endif()

# Soak and races: the real program through 20 back-to-back passes (scripts/soak makes 200), and
# Refresh, Update, Exit and a launch pressed in the middle of passes, each in a kept Wine prefix
# of its own under build/e2e.
if(TARGET races_browser AND EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/soak.sh AND EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/races.sh
   AND EXISTS ${CMAKE_SOURCE_DIR}/tools/probe/probe_soak.cpp)
  add_test(NAME e2e_soak COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/soak.sh $<TARGET_FILE:VarnetBrowser>
           $<TARGET_FILE:probe> $<TARGET_FILE:fakegame> ${VARNET_LAB})
  set_tests_properties(e2e_soak PROPERTIES TIMEOUT 400)
  add_test(NAME e2e_races COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/races.sh $<TARGET_FILE:races_browser>
           $<TARGET_FILE:probe> $<TARGET_FILE:fakegame> ${VARNET_LAB})
  set_tests_properties(e2e_races PROPERTIES TIMEOUT 600)
endif()
