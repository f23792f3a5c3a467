// The portable engine: 16.16 fixed point, halves rounded up, 32-bit wrap.
// Handles any size, including lines shorter than the kernel: each tap
// beyond an edge reuses the edge pixel.
#pragma once

#include "core/pass_job.h"

namespace lowpass {

// Filters the band's rows of job.source into job.destination with the
// fixedTaps of job.tables.
void HorizontalPassScalar(const PassJob& job);

// Filters the band's columns of job.source into job.destination.
void VerticalPassScalar(const PassJob& job);

}  // namespace lowpass
