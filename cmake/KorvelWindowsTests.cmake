# SPDX-License-Identifier: MIT
# The Windows tests: the core suites cross-built and run under Wine (the emulator is scripts/wine-run),
# plus the suites of the Windows-only code in tests/win. Files that need POSIX or Linux-only pieces
# (pseudo-terminals, korvel-sim, Qt, /proc) are left out by their names' suffix.
set(_tests ${PROJECT_SOURCE_DIR}/tests)

# GoogleTest from the build machine's source package, built with the cross-compiler.
if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
  message(FATAL_ERROR "/usr/src/googletest is missing: install the Debian package googletest (scripts/windows does)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB _support CONFIGURE_DEPENDS ${_tests}/support/*.cpp)
# Pseudo-terminals, the simulator process and the database servers are Linux-side helpers.
list(FILTER _support EXCLUDE REGEX "/(pty|pty_pair|sim_process|databases)\\.cpp$")
list(FILTER _support EXCLUDE REGEX "_posix\\.cpp$")
add_library(korvel_test_support STATIC ${_support})
target_include_directories(korvel_test_support PUBLIC ${_tests})
target_link_libraries(korvel_test_support PUBLIC korvel_core gtest gmock nlohmann_json::nlohmann_json)
target_compile_definitions(korvel_test_support PUBLIC
  KORVEL_SIM_PATH="korvel-sim is a Linux program"
  KORVEL_VECTORS_DIR="${PROJECT_SOURCE_DIR}/tests/data"
  KORVEL_BINARY_DIR="${CMAKE_BINARY_DIR}")
korvel_warnings(korvel_test_support)

# A test file whose cases need POSIX or Linux pieces (pseudo-terminals, sysfs, symbolic links, permission
# bits, signals, the database libraries) is named *_posix_test.cpp or *_linux_test.cpp and is left out
# here; its opening comment says why. Every other test file runs under Wine as it is.
set(_posix_only_files "_(posix|linux)_test\\.cpp$")

# A template Wine prefix, made once per test run (prefix creation is slow); each test program then
# runs in a fresh copy of it, deleted afterwards.
set(_template ${CMAKE_BINARY_DIR}/wine-template)
add_test(NAME wine.prefix COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --setup ${_template})
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300 LABELS windows)

function(korvel_windows_suite name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name}_tests ${ARG_SOURCES})
  target_link_libraries(${name}_tests PRIVATE korvel_test_support gtest_main ${ARG_LIBS})
  korvel_warnings(${name}_tests)
  add_test(NAME win.${name} COMMAND ${name}_tests)
  set_tests_properties(win.${name} PROPERTIES FIXTURES_REQUIRED wine LABELS windows TIMEOUT 600
    ENVIRONMENT "KORVEL_WINE_TEMPLATE=${_template}")
endfunction()

foreach(folder text protocol ui serial threads engine records archive views)
  file(GLOB _sources CONFIGURE_DEPENDS ${_tests}/${folder}/*.cpp)
  list(FILTER _sources EXCLUDE REGEX "${_posix_only_files}")
  if(_sources)
    korvel_windows_suite(${folder} SOURCES ${_sources})
  endif()
endforeach()

# The download walk is answered by the simulator's device model.
foreach(suite records archive)
  if(TARGET ${suite}_tests)
    target_link_libraries(${suite}_tests PRIVATE korvel_sim_model)
  endif()
endforeach()

file(GLOB _win_sources CONFIGURE_DEPENDS ${_tests}/win/*.cpp)
list(FILTER _win_sources EXCLUDE REGEX "/(window_test|hold_running)\\.cpp$")  # programs of their own, below
if(_win_sources)
  korvel_windows_suite(win SOURCES ${_win_sources} LIBS shell32)
endif()

# End to end: korvel-cli.exe under Wine against the Linux simulator, compared with the Linux korvel-cli.
set(KORVEL_LINUX_BUILD "${PROJECT_SOURCE_DIR}/build/release" CACHE PATH
    "a Linux build of this tree whose korvel-sim and korvel-cli the end-to-end test uses")
if(TARGET korvel-cli)
  add_test(NAME win.cli_e2e COMMAND bash ${_tests}/win/cli_e2e.sh $<TARGET_FILE:korvel-cli>
           ${KORVEL_LINUX_BUILD}/cli/korvel-cli ${KORVEL_LINUX_BUILD}/sim/korvel-sim)
  set_tests_properties(win.cli_e2e PROPERTIES FIXTURES_REQUIRED wine LABELS windows TIMEOUT 900
    ENVIRONMENT "KORVEL_WINE_TEMPLATE=${_template}")
  # archive, export, report and verify as a Chinese user: profile, --dir, --output and %TEMP%.
  add_test(NAME win.cli_paths COMMAND bash ${_tests}/win/cli_paths.sh $<TARGET_FILE:korvel-cli>
           ${KORVEL_LINUX_BUILD}/cli/korvel-cli ${KORVEL_LINUX_BUILD}/sim/korvel-sim)
  set_tests_properties(win.cli_paths PROPERTIES FIXTURES_REQUIRED wine LABELS windows TIMEOUT 300
    ENVIRONMENT "KORVEL_WINE_TEMPLATE=${_template}")
endif()

# The daily collection: the hidden launcher against the simulator into the operator's profile, and the
# task registered with Wine's Task Scheduler.
if(TARGET korvel-cli AND TARGET korvel)
  add_test(NAME win.daily_e2e COMMAND bash ${_tests}/win/daily_e2e.sh $<TARGET_FILE:korvel> $<TARGET_FILE:korvel-cli>
           ${KORVEL_LINUX_BUILD}/cli/korvel-cli ${KORVEL_LINUX_BUILD}/sim/korvel-sim)
  set_tests_properties(win.daily_e2e PROPERTIES FIXTURES_REQUIRED wine LABELS windows TIMEOUT 300
    ENVIRONMENT "KORVEL_WINE_TEMPLATE=${_template}")
endif()

# The window under Wine and a virtual display, against the simulator.
if(TARGET korvel_win32ui)
  add_executable(window_test ${_tests}/win/window_test.cpp ${_tests}/support/record_lines.cpp)
  target_link_libraries(window_test PRIVATE korvel_win32ui)
  target_include_directories(window_test PRIVATE ${_tests})
  target_link_options(window_test PRIVATE -municode)
  korvel_resources(window_test window_test "korvel window test")
  korvel_warnings(window_test)
  add_test(NAME win.window COMMAND bash ${_tests}/win/window_test.sh $<TARGET_FILE:window_test>
           ${KORVEL_LINUX_BUILD}/sim/korvel-sim ${CMAKE_BINARY_DIR}/screenshot-windows.png)
  set_tests_properties(win.window PROPERTIES FIXTURES_REQUIRED wine LABELS windows TIMEOUT 300
    ENVIRONMENT "KORVEL_WINE_TEMPLATE=${_template}")
endif()

# The packages: the portable zip runs unpacked; the installer installs and uninstalls where Wine can.
# The x64 build's test also installs the x86 installer beside its own (scripts/windows builds both first).
set(KORVEL_X86_INSTALLER "${PROJECT_SOURCE_DIR}/build/windows-x86/packages/korvel-${PROJECT_VERSION}-x86-setup.exe"
    CACHE FILEPATH "the x86 installer that the x64 installer test installs side by side")
if(TARGET packages)
  # An open korvel window, as the installer's upgrade test needs one.
  add_executable(hold_running ${_tests}/win/hold_running.cpp)
  target_link_options(hold_running PRIVATE -municode)
  korvel_warnings(hold_running)
  set(_other)
  if(KORVEL_MINGW_ARCH STREQUAL "x86_64")
    set(_other ${KORVEL_X86_INSTALLER})
  endif()
  add_test(NAME win.packages COMMAND bash ${_tests}/win/portable_test.sh ${KORVEL_PORTABLE} ${KORVEL_INSTALLER}
           $<TARGET_FILE:hold_running> ${_other})
  set_tests_properties(win.packages PROPERTIES FIXTURES_REQUIRED wine LABELS windows TIMEOUT 300
    ENVIRONMENT "KORVEL_WINE_TEMPLATE=${_template}")
endif()
