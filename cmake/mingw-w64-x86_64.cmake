# Cross build for 64-bit Windows with Debian's MinGW-w64
# (g++-mingw-w64-x86-64-posix): the AviUtl2 plug-in lowpass.auf2 and its
# stand-in host, which runs under wine64 through tools/wine64-run.sh.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LOWPASS_MINGW_TRIPLE x86_64-w64-mingw32)
set(LOWPASS_WINE_RUN wine64-run.sh)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
