# Cross build for 32-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-i686):
# the plug-in lowpass.auf, the stand-in host and the tests, which ctest runs
# under wine through tools/wine-run.sh.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(LOWPASS_MINGW_TRIPLE i686-w64-mingw32)
set(LOWPASS_WINE_RUN wine-run.sh)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
