# The 32-bit Windows plug-in: the lowpass module becomes lowpass.auf, the
# file AviUtl users put next to aviutl.exe.
#  - GetFilterTable is the only export and is exported undecorated
#    (--kill-at drops the "@0" of the stdcall name);
#  - the C++ and GCC runtimes are linked in (-static), so the file imports
#    only system DLLs;
#  - the version resource is Japanese (plugin/lowpass.rc);
#  - the header's link time is zero, so the same sources give the same file
#    (and the same release archive) on every build;
#  - a linker map next to the file lets tools/check-auf.sh attribute every
#    instruction of the file to the object it came from.
enable_language(RC)

set_target_properties(lowpass PROPERTIES PREFIX "" SUFFIX ".auf" OUTPUT_NAME lowpass)
target_sources(lowpass PRIVATE "${PROJECT_SOURCE_DIR}/plugin/lowpass.rc")
set_source_files_properties("${PROJECT_SOURCE_DIR}/plugin/lowpass.rc" TARGET_DIRECTORY lowpass PROPERTIES COMPILE_OPTIONS "-c;65001")
target_link_options(lowpass PRIVATE
  -static
  -Wl,--kill-at
  -Wl,--exclude-all-symbols
  -Wl,--no-insert-timestamp
  "-Wl,-Map=$<TARGET_FILE:lowpass>.map")
