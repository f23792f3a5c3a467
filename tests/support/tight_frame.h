// A frame buffer with no slack after its picture: the allocation ends
// exactly after pixel w - 1 of row h - 1 (max_h == h, and the last row has
// no stride slack), and the memory right after it is an inaccessible page,
// so any read or write past the picture's last sample faults on every build
// (native, sanitizers, 32-bit, under an emulator). A second anchoring puts
// the first picture pixel right after an inaccessible page instead, which
// catches reads before the start. The slack between rows (max_w > w) holds
// a sentinel pattern like GuardedFrame's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/host_api.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace lowpass::testing {

class TightFrame {
public:
    enum class Anchor { End, Start };

    TightFrame(int w, int h, int maxW, Anchor anchor, std::uint32_t salt)
        : w_(w), h_(h), maxW_(maxW), salt_(salt) {
        pixels_ = static_cast<std::size_t>(maxW) * static_cast<std::size_t>(h - 1) + static_cast<std::size_t>(w);
        const std::size_t bytes = pixels_ * sizeof(PIXEL_YC);
        page_ = PageSize();
        dataPages_ = (bytes + page_ - 1) / page_;
        mapBytes_ = (dataPages_ + 2) * page_;  // guard page, data pages, guard page
        base_ = Map(mapBytes_);
        Protect(base_, page_);
        Protect(base_ + (dataPages_ + 1) * page_, page_);
        unsigned char* first = base_ + page_;
        if (anchor == Anchor::End) first = base_ + (dataPages_ + 1) * page_ - bytes;
        data_ = reinterpret_cast<PIXEL_YC*>(first);
        for (std::size_t i = 0; i < pixels_; ++i) data_[i] = Sentinel(i);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) at(x, y) = PIXEL_YC{0, 0, 0};
    }
    ~TightFrame() { Unmap(base_, mapBytes_); }
    TightFrame(const TightFrame&) = delete;
    TightFrame& operator=(const TightFrame&) = delete;

    PIXEL_YC* data() { return data_; }
    const PIXEL_YC* data() const { return data_; }
    PIXEL_YC& at(int x, int y) { return data_[static_cast<std::ptrdiff_t>(y) * maxW_ + x]; }
    const PIXEL_YC& at(int x, int y) const { return data_[static_cast<std::ptrdiff_t>(y) * maxW_ + x]; }
    int w() const { return w_; }
    int h() const { return h_; }
    int maxW() const { return maxW_; }
    // One past the last byte of the allocation (the start of the guard page
    // for Anchor::End).
    const unsigned char* AllocationEnd() const {
        return reinterpret_cast<const unsigned char*>(data_) + pixels_ * sizeof(PIXEL_YC);
    }

    // True when the slack between rows still holds its sentinels.
    bool SentinelsIntact(std::string* where = nullptr) const {
        for (std::size_t i = 0; i < pixels_; ++i) {
            if (static_cast<int>(i % static_cast<std::size_t>(maxW_)) < w_) continue;
            const PIXEL_YC e = Sentinel(i);
            const PIXEL_YC& g = data_[i];
            if (g.y != e.y || g.cb != e.cb || g.cr != e.cr) {
                if (where != nullptr) {
                    char text[160];
                    std::snprintf(text, sizeof text, "slack pixel (x=%zu, y=%zu) of a tight %dx%d frame was written",
                                  i % static_cast<std::size_t>(maxW_), i / static_cast<std::size_t>(maxW_), w_, h_);
                    *where = text;
                }
                return false;
            }
        }
        return true;
    }

private:
    PIXEL_YC Sentinel(std::size_t index) const {
        std::uint32_t v = static_cast<std::uint32_t>(index) * 2654435761u + salt_ * 40503u + 0x9e3779b9u;
        v ^= v >> 15;
        return PIXEL_YC{static_cast<std::int16_t>(v), static_cast<std::int16_t>(v >> 16),
                        static_cast<std::int16_t>(v * 5u)};
    }

#if defined(_WIN32)
    static std::size_t PageSize() {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return info.dwPageSize;
    }
    static unsigned char* Map(std::size_t bytes) {
        void* p = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (p == nullptr) std::abort();
        return static_cast<unsigned char*>(p);
    }
    static void Protect(unsigned char* p, std::size_t bytes) {
        DWORD old = 0;
        if (!VirtualProtect(p, bytes, PAGE_NOACCESS, &old)) std::abort();
    }
    static void Unmap(unsigned char* p, std::size_t) { VirtualFree(p, 0, MEM_RELEASE); }
#else
    static std::size_t PageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }
    static unsigned char* Map(std::size_t bytes) {
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) std::abort();
        return static_cast<unsigned char*>(p);
    }
    static void Protect(unsigned char* p, std::size_t bytes) {
        if (mprotect(p, bytes, PROT_NONE) != 0) std::abort();
    }
    static void Unmap(unsigned char* p, std::size_t bytes) { munmap(p, bytes); }
#endif

    int w_, h_, maxW_;
    std::uint32_t salt_;
    std::size_t pixels_ = 0;
    std::size_t page_ = 0;
    std::size_t dataPages_ = 0;
    std::size_t mapBytes_ = 0;
    unsigned char* base_ = nullptr;
    PIXEL_YC* data_ = nullptr;
};

}  // namespace lowpass::testing
