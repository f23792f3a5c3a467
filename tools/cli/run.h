// The tool's two jobs, as main runs them.
#pragma once

#include <cstdio>

#include "tools/cli/options.h"

namespace lowpass::cli {

// Filters the video named by the options. Throws CliError on any fault,
// after writing every frame before it.
void RunFilter(const CliOptions& options, std::FILE* diagnostics);

// Parses the command line, runs the job, reports a fault as one line on
// standard error; returns the exit status.
int Main(int argc, char** argv);

}  // namespace lowpass::cli
