# 32-bit Linux build with Debian's multilib GCC (g++-multilib): the same
# code as the 32-bit plug-in (x87 floating point, MMX and SSE only in their
# engines' files; see LowpassFlags.cmake), built as Linux programs so that
# the tests can run under qemu-i386 on emulated older processors
# (tools/run-tests.sh names the processor with -cpu).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# ctest runs the programs on an emulated Pentium III (MMX and SSE); the
# other processors are chosen by tools/run-tests.sh.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -cpu pentium3)
