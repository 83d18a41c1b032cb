# Cross-compiles the Windows build on Debian with mingw-w64 (the posix thread flavour,
# which std::thread needs). The runtime is linked in statically, so torvane.exe runs
# on a clean Windows 10/11 x64 with nothing beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TORVANE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TORVANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TORVANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TORVANE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TORVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine (see scripts/wine-run).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
