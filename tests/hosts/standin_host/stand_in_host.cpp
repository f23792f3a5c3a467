#include "tests/hosts/standin_host/stand_in_host.h"

#include <cstdio>

namespace lowpass::standin {

namespace {

StandInHost* HostOf(FILTER* fp) { return reinterpret_cast<StandInHost*>(fp); }

BOOL LP_CDECL CountWindowUpdate(FILTER* fp) {
    ++HostOf(fp)->windowUpdateCalls;
    return TRUE;
}

BOOL LP_CDECL CountIsActive(FILTER* fp) {
    StandInHost* host = HostOf(fp);
    ++host->isActiveCalls;
    return host->active;
}

}  // namespace

StandInHost::StandInHost(const FILTER* descriptor) {
    static_assert(offsetof(StandInHost, filter) == 0);
    if (descriptor != nullptr) {
        filter = *descriptor;
        for (int i = 0; i < 3 && i < descriptor->track_n && descriptor->track_default; ++i)
            track[i] = descriptor->track_default[i];
        for (int i = 0; i < 5 && i < descriptor->check_n && descriptor->check_default; ++i)
            check[i] = descriptor->check_default[i];
    }
    exfunc.filter_window_update = CountWindowUpdate;
    exfunc.is_filter_active = CountIsActive;
    filter.track = track;
    filter.check = check;
    filter.exfunc = &exfunc;
}

// A pool that goes away stops being the host pool (see ~ThreadPool).
StandInHost::~StandInHost() = default;

void StandInHost::SetThreads(int threads) {
    pool.reset();
    exfunc.exec_multi_thread_func = nullptr;
    if (threads < 1) return;
    pool = std::make_unique<threads::ThreadPool>(threads);
    threads::SetHostPool(pool.get());
    exfunc.exec_multi_thread_func = threads::ExecOnHostPool;
}

void StandInHost::SetTrack(int x, int y, int taps) {
    track[0] = x;
    track[1] = y;
    track[2] = taps;
}

void StandInHost::SetCheck(int simd, int rectangular, int hanning, int hamming, int blackman) {
    check[0] = simd;
    check[1] = rectangular;
    check[2] = hanning;
    check[3] = hamming;
    check[4] = blackman;
}

GuardedFrame::GuardedFrame(int w, int h, int maxW, int maxH, std::uint32_t salt)
    : w_(w), h_(h), maxW_(maxW), maxH_(maxH), salt_(salt),
      storage_(static_cast<std::size_t>(maxW) * static_cast<std::size_t>(maxH) + 2 * kGuardPixels) {
    for (std::size_t i = 0; i < storage_.size(); ++i)
        storage_[i] = Sentinel(static_cast<std::ptrdiff_t>(i) - kGuardPixels);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) at(x, y) = PIXEL_YC{0, 0, 0};
}

PIXEL_YC GuardedFrame::Sentinel(std::ptrdiff_t index) const {
    std::uint32_t v = static_cast<std::uint32_t>(index) * 2246822519u + salt_ * 3266489917u + 0x5bd1e995u;
    v ^= v >> 13;
    return PIXEL_YC{static_cast<std::int16_t>(v), static_cast<std::int16_t>(v >> 16),
                    static_cast<std::int16_t>(v * 7u)};
}

void GuardedFrame::FillRandom(std::uint32_t seed, int lo, int hi) {
    Lcg rng(seed);
    for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x) {
            PIXEL_YC& p = at(x, y);
            p.y = static_cast<std::int16_t>(rng.Range(lo, hi));
            p.cb = static_cast<std::int16_t>(rng.Range(lo, hi));
            p.cr = static_cast<std::int16_t>(rng.Range(lo, hi));
        }
}

void GuardedFrame::CopyPicture(const GuardedFrame& other) {
    for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x) at(x, y) = other.at(x, y);
}

bool GuardedFrame::SentinelsIntact(std::string* where) const {
    for (std::size_t i = 0; i < storage_.size(); ++i) {
        const std::ptrdiff_t index = static_cast<std::ptrdiff_t>(i) - kGuardPixels;
        const bool inPicture = index >= 0 && index < static_cast<std::ptrdiff_t>(maxW_) * maxH_ &&
                               index % maxW_ < w_ && index / maxW_ < h_;
        if (inPicture) continue;
        const PIXEL_YC expected = Sentinel(index);
        const PIXEL_YC& got = storage_[i];
        if (got.y != expected.y || got.cb != expected.cb || got.cr != expected.cr) {
            if (where != nullptr) {
                char text[160];
                std::snprintf(text, sizeof text,
                              "slack pixel at index %td (x=%td, y=%td of a %dx%d picture, stride %d) was written",
                              index, index >= 0 ? index % maxW_ : index, index >= 0 ? index / maxW_ : -1, w_,
                              h_, maxW_);
                *where = text;
            }
            return false;
        }
    }
    return true;
}

bool GuardedFrame::PictureEquals(const GuardedFrame& other, std::string* where) const {
    for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x) {
            const PIXEL_YC& a = at(x, y);
            const PIXEL_YC& b = other.at(x, y);
            if (a.y != b.y || a.cb != b.cb || a.cr != b.cr) {
                if (where != nullptr) {
                    char text[160];
                    std::snprintf(text, sizeof text, "pixel (%d,%d): (%d,%d,%d) vs (%d,%d,%d)", x, y, a.y, a.cb,
                                  a.cr, b.y, b.cb, b.cr);
                    *where = text;
                }
                return false;
            }
        }
    return true;
}

FramePair::FramePair(int w, int h, int maxW, int maxH)
    : edit(w, h, maxW, maxH, 1), temp(w, h, maxW, maxH, 2), originalEdit(edit.data()), originalTemp(temp.data()) {
    info.ycp_edit = edit.data();
    info.ycp_temp = temp.data();
    info.w = w;
    info.h = h;
    info.max_w = maxW;
    info.max_h = maxH;
    info.org_w = w;
    info.org_h = h;
}

const GuardedFrame& FramePair::Result() const { return info.ycp_edit == originalEdit ? edit : temp; }

}  // namespace lowpass::standin
