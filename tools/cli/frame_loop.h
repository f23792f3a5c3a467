// The tool's frame loop: read a frame, convert it into the host's buffer,
// filter it through func_proc, convert the result and write it, for every
// frame of the input.
//
// The conversions run in bands of rows on the pool that the plug-in's
// exec_multi_thread_func uses. With more than one thread, reading and
// writing also overlap the work: a thread reads the next frame while this
// one is filtered, and another writes the frame before. Either way the
// output is the same bytes, the frames are written whole and in order, and
// a fault is reported as the plain loop would meet it first: a frame that
// cannot be written stops everything after it, and a bad frame in the
// input stops the loop once every frame before it is written.
//
// Memory, allocated for the first frame and then reused: the host's two
// frame buffers (HostSession) and four frames' bytes (two read, two
// written) with the threads, two without.
#pragma once

#include <functional>

#include "tools/cli/host_session.h"
#include "tools/cli/video_io.h"
#include "tools/threads/thread_pool.h"

namespace lowpass::cli {

// Called after each frame is written, with the number written so far.
using FrameWritten = void (*)(void* context, long long frames);

// Throws CliError on the first fault, after writing every frame before it.
// Returns the number of frames written.
long long FilterFrames(VideoReader& reader, VideoWriter& writer, HostSession& session, threads::ThreadPool& pool,
                       FrameWritten progress = nullptr, void* progressContext = nullptr);

}  // namespace lowpass::cli
