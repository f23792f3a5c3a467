# The layers, each using only those below it:
#   host/    the host's records and constants
#   core/    kernel design, the portable passes, the frame driver procedure
#   simd/    the processor probe, the vector passes, the table of engines
#   plugin/  the 1.x plug-in: settings, engine choice, descriptor, export,
#            window messages
#   aviutl2/ the AviUtl2 plug-in, beside plugin/
#   tools/, bench/: on top; they never use the tests' files.
#   tests/:  the tests and the stand-in hosts (tests/hosts/), on top of
#            everything but the benchmark.
# Each layer is one library linking only the layers below, and its build
# step first checks that no file of the layer includes a file of a layer
# above it (cmake/CheckLayers.cmake): such an include fails the build.
set(LOWPASS_LAYER_ALLOWED_host host)
set(LOWPASS_LAYER_ALLOWED_core host core)
set(LOWPASS_LAYER_ALLOWED_simd host core simd)
set(LOWPASS_LAYER_ALLOWED_plugin host core simd plugin)
set(LOWPASS_LAYER_ALLOWED_aviutl2 host core simd aviutl2)
set(LOWPASS_LAYER_ALLOWED_tools host core simd plugin aviutl2 tools)
set(LOWPASS_LAYER_ALLOWED_bench host core simd plugin aviutl2 tools bench)
set(LOWPASS_LAYER_ALLOWED_tests host core simd plugin aviutl2 tools tests)

function(lowpass_layer target layer)
  if(NOT DEFINED LOWPASS_LAYER_ALLOWED_${layer})
    message(FATAL_ERROR "unknown layer ${layer}")
  endif()
  if(NOT TARGET lowpass_layer_check_${layer})
    add_custom_target(lowpass_layer_check_${layer}
      COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} -DLAYER=${layer}
              "-DALLOWED=${LOWPASS_LAYER_ALLOWED_${layer}}" -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake
      COMMENT "Checking that ${layer}/ includes only ${LOWPASS_LAYER_ALLOWED_${layer}}"
      VERBATIM)
  endif()
  add_dependencies(${target} lowpass_layer_check_${layer})
endfunction()
