// The tool's frame loop in process, on pools of 1 to 5 threads: the same
// bytes as one thread for every format, on frames whose rows do not split
// evenly into bands, and no allocation once the first two frames are in.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "plugin/filter_settings.h"
#include "tests/cli/reference_host.h"
#include "tools/cli/frame_loop.h"
#include "tools/cli/host_session.h"
#include "tools/cli/video_io.h"
#include "tools/threads/thread_pool.h"

// Every allocation of this program is counted.
namespace {
std::atomic<long long> allocations{0};
}  // namespace

// The replacements pair malloc with free; GCC, seeing a new-expression
// inlined next to the free, would call them mismatched.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size > 0 ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

using namespace lowpass::cli;

namespace {

struct Clip {
    const char* name;
    VideoFormat format;
    std::string header;  // Y4M stream header line
    int width, height;
    std::size_t frameBytes;
};

std::string MakeInput(const Clip& clip, int frames) {
    std::string bytes = clip.header.empty() ? "" : clip.header + "\n";
    std::uint32_t state = 12345;
    for (int f = 0; f < frames; ++f) {
        if (clip.format == VideoFormat::Y4m) bytes += f % 2 ? "FRAME Ixyz\n" : "FRAME\n";
        for (std::size_t i = 0; i < clip.frameBytes; ++i) {
            state = state * 1664525u + 1013904223u;
            bytes += static_cast<char>(state >> 24);
        }
    }
    return bytes;
}

struct LoopRun {
    std::string output;
    long long frames = 0;
    long long allocationsAfterSecondFrame = -1;  // from the second frame written to the end
};

struct Counter {
    long long atSecond = -1;
    static void Written(void* context, long long frames) {
        if (frames == 2) static_cast<Counter*>(context)->atSecond = allocations.load();
    }
};

LoopRun RunLoop(const Clip& clip, const std::string& input, int threads) {
    std::vector<char> copy(input.begin(), input.end());
    std::FILE* in = fmemopen(copy.data(), copy.size(), "rb");
    const int out = memfd_create("lowpass-frame-loop", MFD_CLOEXEC);
    EXPECT_TRUE(in != nullptr && out >= 0);
    LoopRun run;
    {
        lowpass::threads::ThreadPool pool(threads);
        // Both passes on every frame: X and Y below the frame's size.
        const FilterSettings settings = lowpass::clitest::Settings(16, 8, 5, lowpass::kCheckBlackman, 1);
        HostSession session(settings, nullptr, &pool);
        VideoReader reader(in, clip.format, clip.width, clip.height);
        VideoWriter writer(out, reader);
        Counter counter;
        run.frames = FilterFrames(reader, writer, session, pool, Counter::Written, &counter);
        if (counter.atSecond >= 0) run.allocationsAfterSecondFrame = allocations.load() - counter.atSecond;
    }
    const off_t size = lseek(out, 0, SEEK_CUR);
    run.output.resize(static_cast<std::size_t>(size));
    EXPECT_EQ(pread(out, run.output.data(), run.output.size(), 0), size);
    close(out);
    std::fclose(in);
    return run;
}

TEST(FrameLoop, OneToFiveThreadsWriteTheSameBytesAndAllocateNothingPerFrame) {
    constexpr int kFrames = 6;
    const Clip clips[] = {
        {"Y4M 4:4:4", VideoFormat::Y4m, "YUV4MPEG2 W37 H23 F25:1 C444", 37, 23, 3 * 37 * 23},
        {"Y4M greyscale", VideoFormat::Y4m, "YUV4MPEG2 W41 H9 Cmono", 41, 9, 41 * 9},
        {"yc48", VideoFormat::Yc48, "", 29, 13, 29 * 13 * 6},
    };
    for (const Clip& clip : clips) {
        const std::string input = MakeInput(clip, kFrames);
        const LoopRun one = RunLoop(clip, input, 1);
        ASSERT_EQ(one.frames, kFrames) << clip.name;
        EXPECT_EQ(one.allocationsAfterSecondFrame, 0) << clip.name << ", 1 thread";
        // The filter changed the frames (for yc48 the bytes pass unconverted).
        EXPECT_NE(one.output, input) << clip.name;
        for (int threads = 2; threads <= 5; ++threads) {
            const LoopRun run = RunLoop(clip, input, threads);
            EXPECT_EQ(run.frames, kFrames) << clip.name << ", " << threads << " threads";
            EXPECT_TRUE(run.output == one.output) << clip.name << ", " << threads << " threads: the output differs";
            EXPECT_EQ(run.allocationsAfterSecondFrame, 0) << clip.name << ", " << threads << " threads";
        }
    }
}

}  // namespace
