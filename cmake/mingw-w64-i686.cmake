# Cross build for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686).
# The programs run under wine (32-bit wine: the i386 architecture and
# wine32:i386) through scripts/wine-run, which ctest uses as the emulator.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(mingw_prefix i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
