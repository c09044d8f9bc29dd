# Building the core for the web with Debian's Emscripten, its tests run under Node:
#   cmake -S . -B build-web -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-emscripten.cmake
# (scripts/test-web.sh does this). `emcmake cmake` with the same -DCMAKE_TOOLCHAIN_FILE does the
# same; `emcmake cmake` alone takes Emscripten's own toolchain and starts Node with a flag for
# threads that Node 20 refuses ("bad option"), so no test would run.
#
# What the web build leaves out, and how its waits yield to the event loop, the tree's own
# CMake files say under EMSCRIPTEN, as they say it for Windows under WIN32.
set(KFW_EMSCRIPTEN_ROOT /usr/share/emscripten CACHE PATH "Emscripten's own folder")
if(DEFINED ENV{EMSCRIPTEN})
  set(KFW_EMSCRIPTEN_ROOT $ENV{EMSCRIPTEN})
endif()
if(NOT EXISTS ${KFW_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake)
  message(FATAL_ERROR "Emscripten is missing from ${KFW_EMSCRIPTEN_ROOT}: install emscripten "
                      "(scripts/install-deps.sh --web)")
endif()
include(${KFW_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake)

# em++ runs JavaScript tools (acorn, for the JavaScript it writes) under Node at every link. A Node
# that is not Debian's own finds Debian's modules only through NODE_PATH: each link is started
# with it. Compiling needs no Node.
if(EXISTS /usr/share/nodejs/acorn)
  set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
endif()

# Tests and test discovery run the built programs under Node. Emscripten 3.1.6's loader asks
# Node 18 and later to fetch the .wasm by its path, which fails: the test programs carry their
# WebAssembly inside (-sSINGLE_FILE, tests/CMakeLists.txt), so plain Node runs them, and a program
# whose WebAssembly is left beside it runs with Node's fetch turned off (tests/web/CMakeLists.txt).
find_program(KFW_NODE NAMES node nodejs)
if(KFW_NODE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KFW_NODE})
endif()
