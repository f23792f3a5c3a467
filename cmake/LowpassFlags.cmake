# Flags shared by every target of the project.
#
# Results must not depend on the build machine: no -march=native, and no
# contraction of a*b+c into a fused multiply-add anywhere.
add_compile_options(-ffp-contract=off)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(LOWPASS_X86_32 ON)
  # The plug-in must run on a processor without MMX or SSE: the base
  # instruction set everywhere, and the vector sets only in the files of the
  # engine that needs them (see lowpass_engine_sources).
  add_compile_options(-march=i686 -mno-mmx -mno-sse)
else()
  set(LOWPASS_X86_32 OFF)
endif()

if(LOWPASS_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(LOWPASS_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Warnings are errors in the project's own code (not in GoogleTest's).
add_library(lowpass_warnings INTERFACE)
target_compile_options(lowpass_warnings INTERFACE -Wall -Wextra -Wshadow -Werror)

# Gives the files of one vector engine (in the target's own directory) its
# instruction set. The host calls with a stack aligned to 4 bytes only, so
# 32-bit vector code realigns it.
function(lowpass_engine_sources target isa)
  if(isa STREQUAL "mmx")
    set(flags -mmmx)
  elseif(isa STREQUAL "sse")
    set(flags -mmmx -msse)
  elseif(isa STREQUAL "sse2")
    set(flags -msse2)
  elseif(isa STREQUAL "avx2")
    # AVX2 and nothing that would change a result: no FMA.
    set(flags -mavx2 -mno-fma)
  elseif(isa STREQUAL "avx2-f16c")
    # The float passes: AVX2 with the half conversions, again without FMA.
    set(flags -mavx2 -mf16c -mno-fma)
  elseif(isa STREQUAL "avx512")
    # AVX-512 F, BW (16-bit lanes) and VL (its instructions on 128- and
    # 256-bit registers); no FMA.
    set(flags -mavx512f -mavx512bw -mavx512vl -mno-fma)
  else()
    message(FATAL_ERROR "unknown instruction set ${isa}")
  endif()
  if(LOWPASS_X86_32)
    list(APPEND flags -mstackrealign)
    # Scalar float code in the SSE2, AVX2 and AVX-512 files runs on SSE
    # registers too, never on the x87 unit with its excess precision.
    if(isa STREQUAL "sse2" OR isa STREQUAL "avx2" OR isa STREQUAL "avx512")
      list(APPEND flags -mfpmath=sse)
    endif()
  endif()
  foreach(source IN LISTS ARGN)
    get_filename_component(path "${source}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    set_property(SOURCE "${path}" TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_OPTIONS ${flags})
  endforeach()
endfunction()
