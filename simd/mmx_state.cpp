// Built with MMX enabled: the only instruction here is EMMS.
#include <mmintrin.h>

#include "simd/cpu_probe.h"

namespace lowpass {

void ClearMmxState() { _mm_empty(); }

}  // namespace lowpass
