# Cross-building for 64-bit Windows with Debian's MinGW-w64 (posix threads).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=tools/windows/mingw-w64.cmake -DNXT_WINDOWS_DEPS=CACHE
#
# NXT_WINDOWS_DEPS is the folder tools/windows/build-deps fills: Boost's and
# nlohmann-json's headers alone, libusb and GoogleTest built for Windows. Programs link the
# C and C++ runtimes statically; the tests run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(NXT_MINGW_HOST x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${NXT_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NXT_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${NXT_MINGW_HOST}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${NXT_MINGW_HOST})
if(NXT_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${NXT_WINDOWS_DEPS}/googletest ${NXT_WINDOWS_DEPS}/libusb
    ${NXT_WINDOWS_DEPS}/nlohmann_json)
  set(Boost_INCLUDE_DIR ${NXT_WINDOWS_DEPS}/boost-include CACHE PATH "Boost's headers alone")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One .exe that needs no MinGW DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and test discovery run under wine64, in the Wine prefix of the
# cache, quietly.
find_program(NXT_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(NXT_WINE64 AND NXT_WINDOWS_DEPS)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${NXT_WINDOWS_DEPS}/wine WINEDEBUG=-all
    ${NXT_WINE64})
endif()
