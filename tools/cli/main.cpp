// lowpass: runs the low-pass plug-in over video from the command line.
#include "tools/cli/run.h"

int main(int argc, char** argv) { return lowpass::cli::Main(argc, argv); }
