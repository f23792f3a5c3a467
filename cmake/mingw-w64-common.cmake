# What both Windows cross builds share, for Debian's MinGW-w64 with the
# posix thread model (GoogleTest needs std::mutex and the AviUtl2 plug-in
# std::thread, which the win32 model lacks). The toolchain file that
# includes this sets LOWPASS_MINGW_TRIPLE (i686-w64-mingw32 or
# x86_64-w64-mingw32) and LOWPASS_WINE_RUN (the script that runs a built
# program under wine) first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${LOWPASS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LOWPASS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LOWPASS_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LOWPASS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The users of the plug-ins have no MinGW runtime DLLs: every program and
# module links the C, C++, GCC and thread runtimes statically and imports
# only the system's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Programs built here run under wine, in a prefix inside the build tree.
get_filename_component(_lowpass_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_lowpass_source_dir}/tools/${LOWPASS_WINE_RUN}")
