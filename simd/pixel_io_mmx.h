// Pixel loads and stores on MMX registers, shared by the MMX and SSE
// engines' files.
//
// Everything here has internal linkage on purpose: each engine's file is
// built with its own instruction set, and a copy compiled for SSE must never
// be the one the MMX engine calls (as one shared inline definition could be).
#pragma once

#include <mmintrin.h>

#include <cstdint>
#include <cstring>

#include "host/host_api.h"

namespace lowpass {
namespace {

// An 8-byte load or store at any alignment.
using UnalignedM64 = __m64 __attribute__((__may_alias__, __aligned__(1)));

inline __m64 Load8(const void* p) { return *static_cast<const UnalignedM64*>(p); }
inline void Store8(void* p, __m64 v) { *static_cast<UnalignedM64*>(p) = v; }

// y, cb, cr of a row's last pixel, fourth lane zero, from exactly its 6 bytes
// (an 8-byte load would reach past the row).
inline __m64 LoadLastPixel(const PIXEL_YC* p) {
    std::int32_t ycb;
    std::memcpy(&ycb, p, 4);
    const std::int32_t cr = static_cast<std::uint16_t>(p->cr);
    return _mm_unpacklo_pi32(_mm_cvtsi32_si64(ycb), _mm_cvtsi32_si64(cr));
}

// y, cb, cr of the lanes into exactly the pixel's 6 bytes.
inline void StoreLastPixel(PIXEL_YC* p, __m64 v) {
    const std::int32_t ycb = _mm_cvtsi64_si32(v);
    const auto cr = static_cast<std::int16_t>(_mm_cvtsi64_si32(_mm_srli_si64(v, 32)));
    std::memcpy(p, &ycb, 4);
    std::memcpy(&p->cr, &cr, 2);
}

}  // namespace
}  // namespace lowpass
