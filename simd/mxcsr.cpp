// Built with SSE enabled: the only instructions here are STMXCSR and LDMXCSR.
#include "simd/mxcsr.h"

#include <xmmintrin.h>

namespace lowpass {

std::uint32_t ReadMxcsr() { return _mm_getcsr(); }

void WriteMxcsr(std::uint32_t value) { _mm_setcsr(value); }

}  // namespace lowpass
