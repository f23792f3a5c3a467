#include "tests/cli/reference_host.h"

#include <cstdio>

#include "plugin/filter_export.h"
#include "tests/hosts/standin_host/stand_in_host.h"

namespace lowpass::clitest {

using standin::FramePair;
using standin::Lcg;
using standin::StandInHost;

cli::FilterSettings Settings(int x, int y, int taps, int window, int simd) {
    cli::FilterSettings s{};
    s.track[0] = x;
    s.track[1] = y;
    s.track[2] = taps;
    s.check[0] = simd;
    s.check[window] = 1;
    return s;
}

cli::Picture RandomPicture(int w, int h, std::uint32_t seed, int lo, int hi) {
    cli::Picture p(w, h);
    Lcg rng(seed);
    for (PIXEL_YC& px : p.pixels)
        px = PIXEL_YC{static_cast<std::int16_t>(rng.Range(lo, hi)), static_cast<std::int16_t>(rng.Range(lo, hi)),
                      static_cast<std::int16_t>(rng.Range(lo, hi))};
    return p;
}

cli::Picture Reference(const cli::Picture& in, const cli::FilterSettings& s, FilterProcFunc proc) {
    StandInHost host(GetFilterTable());
    host.SetTrack(s.track[0], s.track[1], s.track[2]);
    host.SetCheck(s.check[0], s.check[1], s.check[2], s.check[3], s.check[4]);
    host.filter.func_update(&host.filter, 0);
    if (proc != nullptr) host.filter.func_proc = proc;
    FramePair frames(in.width, in.height, in.width + 3, in.height + 1);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) frames.edit.at(x, y) = in.at(x, y);
    host.filter.func_proc(&host.filter, &frames.info);
    cli::Picture out(in.width, in.height);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) out.at(x, y) = frames.Result().at(x, y);
    return out;
}

int Mismatches(const cli::Picture& a, const cli::Picture& b, std::string* first) {
    if (a.width != b.width || a.height != b.height) return a.width * a.height + 1;
    int n = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const PIXEL_YC& p = a.at(x, y);
            const PIXEL_YC& q = b.at(x, y);
            if (p.y != q.y || p.cb != q.cb || p.cr != q.cr) {
                if (n == 0 && first != nullptr) {
                    char text[128];
                    std::snprintf(text, sizeof text, "(%d,%d): (%d,%d,%d) vs (%d,%d,%d)", x, y, p.y, p.cb, p.cr, q.y,
                                  q.cb, q.cr);
                    *first = text;
                }
                ++n;
            }
        }
    return n;
}

}  // namespace lowpass::clitest
