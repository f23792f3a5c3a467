// Failures reported to the editor's log. A call that cannot do its work
// leaves the image as it was, returns true (false would stop the object's
// later filters and its drawing) and says why here.
#pragma once

#include "host/aviutl2_api.h"

namespace lowpass::auf2 {

enum class Failure { kSize, kRead, kAllocation, kWrite };
constexpr int kFailureKinds = 4;

// The handle InitializeLogger gave (null: nothing is logged).
void SetLogger(aviutl2::LOG_HANDLE* logger);

// Warns "<filter>: <what> (w x h); the image is left as it was", at most
// once a second for each kind of failure.
void WarnFailure(Failure kind, const char* what, int w, int h);

}  // namespace lowpass::auf2
