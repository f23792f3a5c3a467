# Fails when a file of one layer includes a file of a layer above it (or,
# for the tools and the benchmark, a file of the tests). Run at build time
# by the target of each layer (see lowpass_layer in LowpassLayers.cmake):
#   cmake -DROOT=<source dir> -DLAYER=<folder> -DALLOWED=<folders> -P CheckLayers.cmake
# Includes are project-relative ("core/kernel.h"); only includes that name a
# folder of the project are looked at.
set(project_folders host core simd plugin aviutl2 tools bench tests fuzz)
file(GLOB_RECURSE files "${ROOT}/${LAYER}/*.h" "${ROOT}/${LAYER}/*.cpp")
set(faults "")
foreach(file IN LISTS files)
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^/\"]+)/.*$" "\\1" folder "${line}")
    if(folder STREQUAL line)
      continue()  # an include without a folder: the file's own neighbour
    endif()
    list(FIND project_folders "${folder}" is_project)
    list(FIND ALLOWED "${folder}" is_allowed)
    if(is_project GREATER_EQUAL 0 AND is_allowed LESS 0)
      file(RELATIVE_PATH where "${ROOT}" "${file}")
      string(STRIP "${line}" line)
      string(APPEND faults "\n  ${where}: ${line}")
    endif()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "${LAYER}/ may include only ${ALLOWED}; these reach elsewhere:${faults}")
endif()
