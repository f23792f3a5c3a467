// Built with MMX enabled: the only instruction here is EMMS.
#include "simd/mmx_state.h"

#include <mmintrin.h>

namespace lowpass {

void ClearMmxState() { _mm_empty(); }

}  // namespace lowpass
