# lowpass_zip(OUTPUT <zip> ENTRIES <name> <file> [<name> <file>...] [DEPENDS ...])
#
# Packs each <file> into <zip> under <name> (a path inside the archive), in
# the order given, so that the same files give the same archive bytes on
# every build and every machine: each entry carries the time 2026-01-01
# 00:00 (UTC) and the mode 0644, and no extra fields (owner, access and
# change times). `cmake -E tar --format=zip --mtime` fixes only the
# modification time; it stores the files' access and change times as well,
# so its archives differ from build to build. The files are copied into a
# staging folder next to the archive first, so the build's own files keep
# their times (and make does not rebuild them). Needs Info-ZIP's zip and
# coreutils (touch, chmod): the cross builds run on Debian.
include_guard(GLOBAL)

find_program(LOWPASS_ZIP zip REQUIRED)

function(lowpass_zip)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "OUTPUT" "ENTRIES;DEPENDS")
  list(LENGTH arg_ENTRIES count)
  math(EXPR odd "${count} % 2")
  if(count EQUAL 0 OR odd)
    message(FATAL_ERROR "lowpass_zip: ENTRIES takes pairs of <name> <file>")
  endif()
  get_filename_component(zip_name "${arg_OUTPUT}" NAME)
  set(stage "${arg_OUTPUT}.stage")
  set(commands
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${stage}" "${arg_OUTPUT}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${stage}")
  set(names)
  set(files)
  math(EXPR last "${count} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET arg_ENTRIES ${i} name)
    list(GET arg_ENTRIES ${j} file)
    get_filename_component(dir "${stage}/${name}" DIRECTORY)
    list(APPEND commands
      COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
      COMMAND ${CMAKE_COMMAND} -E copy "${file}" "${stage}/${name}")
    list(APPEND names "${name}")
    list(APPEND files "${file}")
  endforeach()
  add_custom_command(
    OUTPUT "${arg_OUTPUT}"
    ${commands}
    COMMAND ${CMAKE_COMMAND} -E chdir "${stage}" chmod 0644 ${names}
    COMMAND ${CMAKE_COMMAND} -E chdir "${stage}" touch -d 2026-01-01T00:00:00Z ${names}
    COMMAND ${CMAKE_COMMAND} -E chdir "${stage}" ${CMAKE_COMMAND} -E env TZ=UTC
            "${LOWPASS_ZIP}" -X -D -q "${arg_OUTPUT}" ${names}
    DEPENDS ${files} ${arg_DEPENDS}
    COMMENT "Packing ${zip_name}"
    VERBATIM)
endfunction()
