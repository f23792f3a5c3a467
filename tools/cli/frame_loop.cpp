#include "tools/cli/frame_loop.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace lowpass::cli {

namespace {

// Converts a frame between its bytes and the host buffer, in bands of rows
// on the pool.
class BandedCodec {
public:
    BandedCodec(const FrameLayout& layout, threads::ThreadPool& pool, std::ptrdiff_t stride)
        : layout_(layout), pool_(pool), stride_(stride) {}

    void Decode(const std::uint8_t* data, PIXEL_YC* pixels) {
        auto band = [&](int index, int bands) {
            DecodeRows(layout_, data, pixels, stride_, Start(index, bands), Start(index + 1, bands));
        };
        if (!pool_.ForEachThread(band)) band(0, 1);
    }

    void Encode(const PIXEL_YC* pixels, std::uint8_t* data) {
        auto band = [&](int index, int bands) {
            EncodeRows(layout_, pixels, stride_, data, Start(index, bands), Start(index + 1, bands));
        };
        if (!pool_.ForEachThread(band)) band(0, 1);
    }

private:
    int Start(int band, int bands) const { return threads::BandStart(layout_.height, band, bands); }

    FrameLayout layout_;
    threads::ThreadPool& pool_;
    std::ptrdiff_t stride_;
};

// A thread that runs one job at a time and hands back what the job threw.
class JobThread {
public:
    using Job = void (*)(void* argument);

    JobThread() : thread_([this] { Loop(); }) {}
    ~JobThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    JobThread(const JobThread&) = delete;
    JobThread& operator=(const JobThread&) = delete;

    void Start(Job job, void* argument) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = job;
            argument_ = argument;
            busy_ = true;
        }
        changed_.notify_all();
    }

    // Waits for the job started last (if it is still running) and returns
    // what it threw, or null.
    std::exception_ptr Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !busy_; });
        std::exception_ptr fault = fault_;
        fault_ = nullptr;
        return fault;
    }

private:
    void Loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stopping_ || (busy_ && job_ != nullptr); });
            if (stopping_) return;
            const Job job = job_;
            void* argument = argument_;
            job_ = nullptr;
            lock.unlock();
            std::exception_ptr fault;
            try {
                job(argument);
            } catch (...) {
                fault = std::current_exception();
            }
            lock.lock();
            fault_ = fault;
            busy_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    Job job_ = nullptr;
    void* argument_ = nullptr;
    bool busy_ = false;
    bool stopping_ = false;
    std::exception_ptr fault_;
    std::thread thread_;  // last: starts once the members above exist
};

struct ReadJob {
    VideoReader* reader;
    FrameBytes* frame;
    bool got;

    static void Run(void* argument) {
        auto& job = *static_cast<ReadJob*>(argument);
        job.got = false;
        job.got = job.reader->ReadFrameBytes(*job.frame);
    }
};

struct WriteJob {
    VideoWriter* writer;
    const FrameBytes* frame;

    static void Run(void* argument) {
        auto& job = *static_cast<WriteJob*>(argument);
        job.writer->WritePrepared(*job.frame);
    }
};

// One thread: each frame read, filtered and written in turn.
long long PlainLoop(VideoReader& reader, VideoWriter& writer, HostSession& session, BandedCodec& codec,
                    FrameWritten progress, void* progressContext) {
    const FrameLayout layout = reader.layout();
    FrameBytes in;
    FrameBytes out;
    long long frames = 0;
    while (reader.ReadFrameBytes(in)) {
        codec.Decode(in.data.data(), session.Input(layout.width, layout.height));
        const PIXEL_YC* result = session.Filter(static_cast<int>(frames));
        codec.Encode(result, writer.PrepareFrame(out, in.line, layout.Bytes()));
        writer.WritePrepared(out);
        ++frames;
        if (progress != nullptr) progress(progressContext, frames);
    }
    return frames;
}

// Reading, filtering and writing overlapped: frame k + 1 is read and frame
// k - 1 written while frame k is filtered.
long long OverlappedLoop(VideoReader& reader, VideoWriter& writer, HostSession& session, BandedCodec& codec,
                         FrameWritten progress, void* progressContext) {
    const FrameLayout layout = reader.layout();
    FrameBytes in[2];
    FrameBytes out[2];
    JobThread reading;
    JobThread writing;
    ReadJob read{&reader, &in[0], false};
    WriteJob write{&writer, nullptr};
    bool readPending = false;
    bool writePending = false;
    long long frames = 0;   // filtered and handed to the writer
    long long written = 0;  // written
    std::exception_ptr fault;

    reading.Start(ReadJob::Run, &read);
    readPending = true;
    try {
        for (;;) {
            readPending = false;
            if (std::exception_ptr readFault = reading.Wait()) {
                fault = readFault;
                break;
            }
            if (!read.got) break;
            FrameBytes& current = *read.frame;
            read.frame = &in[(frames + 1) % 2];
            reading.Start(ReadJob::Run, &read);
            readPending = true;

            codec.Decode(current.data.data(), session.Input(layout.width, layout.height));
            const PIXEL_YC* result = session.Filter(static_cast<int>(frames));
            // out[frames % 2] held frame - 2, written before frame - 1 started.
            FrameBytes& encoded = out[frames % 2];
            codec.Encode(result, writer.PrepareFrame(encoded, current.line, layout.Bytes()));

            if (writePending) {
                writePending = false;
                if (std::exception_ptr writeFault = writing.Wait()) {
                    fault = writeFault;
                    break;
                }
                ++written;
                if (progress != nullptr) progress(progressContext, written);
            }
            write.frame = &encoded;
            writing.Start(WriteJob::Run, &write);
            writePending = true;
            ++frames;
        }
    } catch (...) {
        fault = std::current_exception();
    }
    // The frame still being written comes before any fault met here, so
    // its own fault wins.
    if (writePending) {
        if (std::exception_ptr writeFault = writing.Wait()) {
            fault = writeFault;
        } else {
            ++written;
            if (progress != nullptr) progress(progressContext, written);
        }
    }
    // A frame read ahead is not needed any more; whatever its outcome.
    if (readPending) reading.Wait();
    if (fault) std::rethrow_exception(fault);
    return written;
}

}  // namespace

long long FilterFrames(VideoReader& reader, VideoWriter& writer, HostSession& session, threads::ThreadPool& pool,
                       FrameWritten progress, void* progressContext) {
    const FrameLayout layout = reader.layout();
    session.Input(layout.width, layout.height);  // the host buffers, and their stride
    BandedCodec codec(layout, pool, session.maxW());
    if (pool.threads() <= 1) return PlainLoop(reader, writer, session, codec, progress, progressContext);
    return OverlappedLoop(reader, writer, session, codec, progress, progressContext);
}

}  // namespace lowpass::cli
