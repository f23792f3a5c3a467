// The 64-bit stand-in host: loads lowpass.auf2 (or the native build of the
// same front end) by its file name and drives it as the editor does:
//   RequiredVersion, InitializeLogger, InitializePlugin, GetFilterPluginTable,
//   the items, func_proc_video calls on images of its own, UninitializePlugin.
// Only the three image-resource calls of FILTER_PROC_VIDEO are served; any
// other slot the filter calls ends the program with a failure. Images are
// HF64: RGBA half floats, premultiplied.
//
// Prints "out ..." lines (the table, and a hash of every filtered image),
// which must be the same for every build of the plug-in, "check PASS/FAIL"
// lines, and a last line "host: N checks passed, M failed". Exit status 0
// when nothing failed.
//   lowpass-host2 MODULE [--large | --table | --reverse | --threads]
// --table prints the table and its items only; --reverse runs only the two
// instances, the second one first; --threads only two threads calling at
// once (for the thread sanitizer's build).
// --large runs only one case: a 16384 x 16384 image, which costs the
// plug-in a 2 GiB copy; the host measures the process's memory around it
// (wine's own counters leave heap blocks out).
#include <xmmintrin.h>

#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/aviutl2_api.h"
#include "tests/hosts/standin_host/seeds.h"
#include "tests/hosts/standin_host2/host2_platform.h"

namespace {

using namespace aviutl2;
using lowpass::standin2::PluginModule;

int checksPassed = 0;
int checksFailed = 0;

// A failed check also names the random images' seeds, so that it can be
// replayed.
void Check(bool ok, const std::string& what) {
    std::printf("check %s: %s%s\n", ok ? "PASS" : "FAIL", what.c_str(),
                ok ? "" : (" [" + lowpass::standin::RunSeedNote() + "]").c_str());
    std::fflush(stdout);
    (ok ? checksPassed : checksFailed)++;
}

std::string Utf8(const Text16* s) {
    if (s == nullptr) return "(null)";
    std::string out;
    for (; *s != 0; ++s) {
        std::uint32_t c = *s;
        if (c >= 0xD800 && c < 0xDC00 && s[1] >= 0xDC00 && s[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(s[1]) - 0xDC00);
            ++s;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool Same(const Text16* a, const Text16* b) {
    if (a == nullptr || b == nullptr) return a == b;
    for (; *a != 0 && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

std::uint64_t SplitMix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// --- half floats, the host's own arithmetic ------------------------------------------

// A half's value, by its definition.
double HalfValue(std::uint16_t h) {
    const int e = (h >> 10) & 31;
    const int m = h & 1023;
    const double sign = (h & 0x8000) ? -1.0 : 1.0;
    if (e == 0) return sign * std::ldexp(m, -24);
    if (e == 31) return m == 0 ? sign * HUGE_VAL : std::nan("");
    return sign * std::ldexp(1024 + m, e - 25);
}

// The largest half not above v, for 0 <= v < 65504 (test images only).
std::uint16_t HalfAtMost(double v) {
    std::uint16_t low = 0, high = 0x7BFF;
    while (low < high) {
        const auto mid = static_cast<std::uint16_t>((low + high + 1) / 2);
        if (HalfValue(mid) <= v) low = mid;
        else high = static_cast<std::uint16_t>(mid - 1);
    }
    return low;
}

// A 64-bit hash of rows of pixels, eight bytes at a time.
struct Hash {
    std::uint64_t value = 0xCBF29CE484222325ull;
    void Add(const PIXEL_HF64* p, int count) {
        for (int i = 0; i < count; ++i) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            value = (value ^ word) * 0x100000001B3ull;
            value ^= value >> 29;
        }
    }
};

// What premultiplied output must be: alpha in 0 .. 1, colours in 0 .. alpha
// (no NaN, no negative value; -0 counts as 0).
bool ValidPremultiplied(const PIXEL_HF64& p) {
    const double a = HalfValue(p.a);
    if (!(a >= 0.0 && a <= 1.0)) return false;
    for (std::uint16_t c : {p.r, p.g, p.b}) {
        const double v = HalfValue(c);
        if (!(v >= 0.0 && v <= a)) return false;
    }
    return true;
}

// --- the image the calls see ---------------------------------------------------------

using Pattern = const PIXEL_HF64* (*)(int y);  // row y of a computed image

struct Image {
    int w = 0;
    int h = 0;
    std::size_t pitch = 0;  // bytes per row: wider than the row
    std::vector<unsigned char> bytes;

    PIXEL_HF64* Row(int y) { return reinterpret_cast<PIXEL_HF64*>(bytes.data() + pitch * static_cast<std::size_t>(y)); }
    const PIXEL_HF64* Row(int y) const {
        return reinterpret_cast<const PIXEL_HF64*>(bytes.data() + pitch * static_cast<std::size_t>(y));
    }
    PIXEL_HF64& At(int x, int y) { return Row(y)[x]; }
    const PIXEL_HF64& At(int x, int y) const { return Row(y)[x]; }
};

constexpr std::size_t kPitchSlack = 40;  // bytes past each row, not part of the image
constexpr unsigned char kSlackByte = 0xA5;

Image MakeImage(int w, int h) {
    Image image;
    image.w = w;
    image.h = h;
    image.pitch = static_cast<std::size_t>(w) * 8 + kPitchSlack;
    image.bytes.assign(image.pitch * static_cast<std::size_t>(h), kSlackByte);
    return image;
}

// Random premultiplied pixels: a quarter opaque, a quarter transparent,
// the rest with random alpha; every colour at most its alpha. The seed is
// the image's fixed one, or drawn from LOWPASS_SEED (SeedFor).
Image RandomImage(int w, int h, std::uint32_t seed, bool opaque) {
    Image image = MakeImage(w, h);
    std::uint64_t state = lowpass::standin::SeedFor(seed);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::uint64_t r = SplitMix(state);
            double a = static_cast<double>(r & 0xFFFF) / 65535.0;
            if (opaque || (r >> 16) % 4 == 0) a = 1.0;
            else if ((r >> 16) % 4 == 1) a = 0.0;
            const std::uint16_t alpha = HalfAtMost(a);
            const double av = HalfValue(alpha);
            const auto colour = [av](std::uint64_t bits) {
                return HalfAtMost(static_cast<double>(bits & 0xFFFF) / 65535.0 * av);
            };
            image.At(x, y) = PIXEL_HF64{colour(r >> 20), colour(r >> 36), colour(r >> 48), alpha};
        }
    }
    return image;
}

// What the image calls do in this run (one session per thread).
struct Session {
    Image* image = nullptr;       // stored image, or
    Pattern pattern = nullptr;    // a computed one (read from the pattern, written into a hash)
    int patternW = 0;
    int patternH = 0;
    int reportDw = 0;             // added to the width get_image_resource_size reports
    int reportW = 0;              // when set: the size the size call reports (no image behind it)
    int reportH = 0;
    bool sizeFails = false;
    bool readFails = false;
    bool writeFails = false;
    bool reportNegative = false;
    int sizeCalls = 0;
    int reads = 0;
    int writes = 0;
    int badCalls = 0;             // wrong resource, format or pitch
    Hash written;                 // of a computed image's result
    std::uint64_t memoryAtWrite = 0;  // the process's memory when the result is handed over
    std::uint64_t invalidPixels = 0;  // written pixels that are not valid premultiplied data
};

thread_local Session session;

int ImageW() { return session.image != nullptr ? session.image->w : session.patternW; }
int ImageH() { return session.image != nullptr ? session.image->h : session.patternH; }

bool ObjectResource(const Text16* resource) { return resource == nullptr || Same(resource, kObjectResource); }

bool GetImageResourceSize(const Text16* resource, int* w, int* h) {
    ++session.sizeCalls;
    if (!ObjectResource(resource)) ++session.badCalls;
    if (session.sizeFails || !ObjectResource(resource)) return false;
    if (session.reportW != 0) {
        *w = session.reportW;
        *h = session.reportH;
        return true;
    }
    *w = session.reportNegative ? -ImageW() : ImageW() + session.reportDw;
    *h = ImageH();
    return true;
}

// The editor's rules: the size must be the image's, the pitch at least a row.
bool CallFits(const Text16* resource, const void* buffer, int w, int h, int pitch, int format) {
    if (!ObjectResource(resource) || format != kImageFormatHf64 || buffer == nullptr ||
        pitch < static_cast<long long>(w) * 8) {
        ++session.badCalls;
        return false;
    }
    return w == ImageW() && h == ImageH();
}

bool GetImageResourceData(const Text16* resource, void* buffer, int w, int h, int pitch, int format) {
    ++session.reads;
    if (session.readFails || !CallFits(resource, buffer, w, h, pitch, format)) return false;
    auto* out = static_cast<unsigned char*>(buffer);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<PIXEL_HF64*>(out + static_cast<std::size_t>(pitch) * static_cast<std::size_t>(y));
        std::memcpy(row, session.image != nullptr ? session.image->Row(y) : session.pattern(y),
                    static_cast<std::size_t>(w) * 8);
    }
    return true;
}

bool SetImageResourceData(const Text16* resource, const void* buffer, int w, int h, int pitch, int format) {
    ++session.writes;
    if (session.pattern != nullptr) session.memoryAtWrite = lowpass::standin2::CommittedMemoryBytes();
    if (session.writeFails || !CallFits(resource, buffer, w, h, pitch, format)) return false;
    const auto* in = static_cast<const unsigned char*>(buffer);
    for (int y = 0; y < h; ++y) {
        const auto* row =
            reinterpret_cast<const PIXEL_HF64*>(in + static_cast<std::size_t>(pitch) * static_cast<std::size_t>(y));
        if (session.image != nullptr) {
            std::memcpy(session.image->Row(y), row, static_cast<std::size_t>(w) * 8);
        } else {
            session.written.Add(row, w);
            for (int x = 0; x < w; ++x)
                if (!ValidPremultiplied(row[x])) ++session.invalidPixels;
        }
    }
    return true;
}

// Every slot the filter has no business calling.
template <int Slot>
void Trap() {
    std::printf("check FAIL: the filter called slot %d of FILTER_PROC_VIDEO\n", Slot);
    std::printf("host: %d checks passed, %d failed\n", checksPassed, checksFailed + 1);
    std::fflush(stdout);
    std::_Exit(3);
}

template <int... Slots>
void FillTraps(void** slots, std::integer_sequence<int, Slots...>) {
    ((slots[Slots] = reinterpret_cast<void*>(&Trap<Slots>)), ...);
}

SCENE_INFO scene{1920, 1080, 30, 1, 48000};

FILTER_PROC_VIDEO MakeVideo(OBJECT_INFO* object, int objectFlag) {
    *object = OBJECT_INFO{};
    object->id = 1;
    object->width = ImageW();
    object->height = ImageH();
    object->effect_id = 7;
    object->flag = objectFlag;
    FILTER_PROC_VIDEO video;
    void* slots[kFilterProcVideoSlots];
    FillTraps(slots, std::make_integer_sequence<int, kFilterProcVideoSlots>{});
    std::memcpy(&video, slots, sizeof(video));
    video.scene = &scene;
    video.object = object;
    video.get_image_resource_size = GetImageResourceSize;
    video.get_image_resource_data = GetImageResourceData;
    video.set_image_resource_data = SetImageResourceData;
    video.userdata = nullptr;
    return video;
}

// --- the editor's log ----------------------------------------------------------------

struct LogRecord {
    std::atomic<int> counts[5]{};  // log, info, warn, error, verbose
    std::string lastWarning;
};
LogRecord logRecord;

template <int Entry>
void LogEntry(LOG_HANDLE* handle, const Text16* message);

LOG_HANDLE logHandle{LogEntry<0>, LogEntry<1>, LogEntry<2>, LogEntry<3>, LogEntry<4>};
bool wrongHandle = false;

template <int Entry>
void LogEntry(LOG_HANDLE* handle, const Text16* message) {
    if (handle != &logHandle) wrongHandle = true;
    ++logRecord.counts[Entry];
    if (Entry == 2) logRecord.lastWarning = Utf8(message);
    std::printf("log %d: %s\n", Entry, Utf8(message).c_str());
}

int Warnings() { return logRecord.counts[2].load(); }
int OtherLogLines() {
    return logRecord.counts[0].load() + logRecord.counts[1].load() + logRecord.counts[3].load() +
           logRecord.counts[4].load();
}

// --- the table and its items -----------------------------------------------------------

FILTER_PLUGIN_TABLE* table = nullptr;

std::vector<void*> Items() {
    std::vector<void*> items;
    for (void** p = table->items; p != nullptr && *p != nullptr && items.size() < 64; ++p) items.push_back(*p);
    return items;
}

template <typename Record>
Record* FindItem(const Text16* type, const Text16* name) {
    for (void* item : Items()) {
        auto* record = static_cast<Record*>(item);
        if (Same(record->type, type) && Same(record->name, name)) return record;
    }
    return nullptr;
}

struct Settings {
    double x = 320;
    double y = 240;
    double taps = 3;
    int window = 3;
    bool simd = true;
};

bool Apply(const Settings& s) {
    auto* x = FindItem<FILTER_ITEM_TRACK>(kItemTypeTrack, u"X");
    auto* y = FindItem<FILTER_ITEM_TRACK>(kItemTypeTrack, u"Y");
    auto* taps = FindItem<FILTER_ITEM_TRACK>(kItemTypeTrack, u"タップ");
    auto* window = FindItem<FILTER_ITEM_SELECT>(kItemTypeSelect, u"窓関数");
    auto* simd = FindItem<FILTER_ITEM_CHECK>(kItemTypeCheck, u"SIMD");
    if (!x || !y || !taps || !window || !simd) return false;
    x->value = s.x;
    y->value = s.y;
    taps->value = s.taps;
    window->value = s.window;
    simd->value = s.simd;
    return true;
}

std::string Describe(const Settings& s) {
    char text[160];
    std::snprintf(text, sizeof(text), "X=%g Y=%g N=%g window=%d simd=%d", s.x, s.y, s.taps, s.window, s.simd ? 1 : 0);
    return text;
}

std::uint64_t ImageHash(const Image& image) {
    Hash hash;
    for (int y = 0; y < image.h; ++y) hash.Add(image.Row(y), image.w);
    return hash.value;
}

bool SlackIntact(const Image& image) {
    for (int y = 0; y < image.h; ++y) {
        const unsigned char* slack = image.bytes.data() + image.pitch * static_cast<std::size_t>(y) +
                                     static_cast<std::size_t>(image.w) * 8;
        for (std::size_t i = 0; i < kPitchSlack; ++i)
            if (slack[i] != kSlackByte) return false;
    }
    return true;
}

std::uint64_t InvalidPixels(const Image& image) {
    std::uint64_t bad = 0;
    for (int y = 0; y < image.h; ++y)
        for (int x = 0; x < image.w; ++x) bad += !ValidPremultiplied(image.At(x, y));
    return bad;
}

bool SameBytes(const Image& a, const Image& b) {
    if (a.w != b.w || a.h != b.h) return false;
    for (int y = 0; y < a.h; ++y)
        if (std::memcmp(a.Row(y), b.Row(y), static_cast<std::size_t>(a.w) * 8) != 0) return false;
    return true;
}

struct Outcome {
    bool result;
    int reads;
    int writes;
    int badCalls;
    int warnings;
};

// One func_proc_video call on this thread's session.
Outcome Call(int objectFlag = 0) {
    session.sizeCalls = session.reads = session.writes = session.badCalls = 0;
    OBJECT_INFO object;
    FILTER_PROC_VIDEO video = MakeVideo(&object, objectFlag);
    const int warningsBefore = Warnings();
    const bool result = table->func_proc_video(&video);
    return Outcome{result, session.reads, session.writes, session.badCalls, Warnings() - warningsBefore};
}

// Filters `input` with the items as they stand; returns the result image.
Image FilterAsSet(const Image& input, Outcome* outcome, int objectFlag = 0) {
    Image image = input;
    session = Session{};
    session.image = &image;
    *outcome = Call(objectFlag);
    session.image = nullptr;
    return image;
}

Image Filter(const Image& input, const Settings& settings, Outcome* outcome, int objectFlag = 0) {
    Apply(settings);
    return FilterAsSet(input, outcome, objectFlag);
}

// A case whose result every build must agree on: printed with its hash.
// The SIMD box's implementations must agree too: the other one runs as well.
std::uint64_t Frame(const std::string& label, const Image& input, const Settings& settings, int objectFlag = 0) {
    Outcome outcome;
    const Image result = Filter(input, settings, &outcome, objectFlag);
    const std::uint64_t hash = ImageHash(result);
    std::printf("out frame %s %dx%d %s result=%d reads=%d writes=%d hash=%016" PRIx64 "\n", label.c_str(), input.w,
                input.h, Describe(settings).c_str(), outcome.result ? 1 : 0, outcome.reads, outcome.writes, hash);
    const bool wrote = outcome.result && outcome.reads == 1 && outcome.writes == 1 && outcome.badCalls == 0;
    if (!wrote || InvalidPixels(result) != 0 || !SlackIntact(result) || outcome.warnings != 0)
        Check(false, label + " " + Describe(settings) +
                         ": one read, one write, no warning, valid premultiplied result, row slack untouched");
    Settings other = settings;
    other.simd = !settings.simd;
    Outcome otherOutcome;
    if (ImageHash(Filter(input, other, &otherOutcome, objectFlag)) != hash)
        Check(false, label + " " + Describe(settings) + ": the other setting of the SIMD box gives other bits");
    return hash;
}

// --- the checks --------------------------------------------------------------------------

void CheckTable() {
    Check(table != nullptr, "GetFilterPluginTable returns a table");
    if (table == nullptr) return;
    Check(table->flag == (kFilterFlagVideo | kFilterFlagFilter), "flags VIDEO | FILTER (" + std::to_string(table->flag) + ")");
    Check(Same(table->name, u"低域通過フィルタ"), "name 低域通過フィルタ (" + Utf8(table->name) + ")");
    Check(Same(table->label, u"加工"), "menu category 加工 (" + Utf8(table->label) + ")");
    Check(table->information != nullptr && table->information[0] != 0, "information: " + Utf8(table->information));
    Check(table->func_proc_video != nullptr && table->func_proc_audio == nullptr && table->func_create == nullptr &&
              table->func_destroy == nullptr,
          "video entry only; no audio, create or destroy");
    std::printf("out table flag=%d label=%s name=%s\n", table->flag, Utf8(table->label).c_str(),
                Utf8(table->name).c_str());

    struct Expected {
        const Text16* type;
        const Text16* name;
        double value, min, max;
    };
    const Expected expected[] = {
        {kItemTypeTrack, u"X", 320, 32, 16384},      {kItemTypeTrack, u"Y", 240, 32, 16384},
        {kItemTypeTrack, u"タップ", 3, 1, 15},         {kItemTypeSelect, u"窓関数", 3, 0, 0},
        {kItemTypeCheck, u"SIMD", 1, 0, 0},
    };
    // The item types a 2.1.0 editor knows: it refuses a filter with any other.
    const Text16* knownTypes[] = {kItemTypeTrack, kItemTypeCheck, kItemTypeSelect, kItemTypeGroup, kItemTypeSeparator};
    const std::vector<void*> items = Items();
    Check(items.size() == 5 && table->items[5] == nullptr, "five items, then the null terminator");
    for (std::size_t i = 0; i < items.size() && i < 5; ++i) {
        const Expected& e = expected[i];
        const auto* head = static_cast<const FILTER_ITEM_SEPARATOR*>(items[i]);
        const std::string label = "item " + std::to_string(i) + " " + Utf8(head->type) + " " + Utf8(head->name);
        bool known = false;
        for (const Text16* type : knownTypes) known = known || Same(head->type, type);
        Check(known, label + ": a type of 2.1.0");
        std::printf("out item %zu type=%s name=%s", i, Utf8(head->type).c_str(), Utf8(head->name).c_str());
        bool ok = Same(head->type, e.type) && Same(head->name, e.name);
        if (Same(head->type, kItemTypeTrack)) {
            const auto* t = static_cast<const FILTER_ITEM_TRACK*>(items[i]);
            std::printf(" value=%g min=%g max=%g step=%g zero_display=%s slider_ratio=%g\n", t->value, t->min, t->max,
                        t->step, t->zero_display ? Utf8(t->zero_display).c_str() : "(null)", t->slider_ratio);
            ok = ok && t->value == e.value && t->min == e.min && t->max == e.max && t->step == 1.0;
            Check(t->slider_ratio > 0.0 && t->slider_ratio <= 1.0 && t->zero_display == nullptr,
                  label + ": slider_ratio in (0, 1] (" + std::to_string(t->slider_ratio) + "), no zero_display");
        } else if (Same(head->type, kItemTypeSelect)) {
            const auto* s = static_cast<const FILTER_ITEM_SELECT*>(items[i]);
            std::printf(" value=%d\n", s->value);
            const Text16* names[] = {u"方形波窓", u"ハニング窓", u"ハミング窓", u"ブラックマン窓"};
            int n = 0;
            for (; s->list != nullptr && s->list[n].name != nullptr && n < 16; ++n) {
                std::printf("out select %d name=%s value=%d\n", n, Utf8(s->list[n].name).c_str(), s->list[n].value);
                ok = ok && n < 4 && Same(s->list[n].name, names[n]) && s->list[n].value == n;
            }
            ok = ok && n == 4 && s->value == static_cast<int>(e.value);
        } else if (Same(head->type, kItemTypeCheck)) {
            const auto* c = static_cast<const FILTER_ITEM_CHECK*>(items[i]);
            std::printf(" value=%d\n", c->value ? 1 : 0);
            ok = ok && c->value;
        } else {
            std::printf("\n");
            ok = false;
        }
        Check(ok, label + ": type, name, range and default");
    }
}

Settings Defaults() { return Settings{}; }

void FrameCases() {
    // Windows, kernel lengths and sizes: every build must agree, and both
    // settings of the SIMD box (Frame runs the other one too).
    const int windows[] = {0, 1, 2, 3};
    const struct {
        int w, h;
        double x, y;
    } sizes[] = {
        {640, 360, 320, 180},  // both passes
        {641, 359, 213, 97},   // odd sizes
        {700, 200, 320, 240},  // across only
        {150, 500, 320, 240},  // down only
        {33, 34, 32, 32},      // the smallest target
    };
    const double tapsList[] = {1, 3, 15};
    int count = 0;
    std::uint32_t seed = 1;
    for (const auto& size : sizes) {
        const Image input = RandomImage(size.w, size.h, seed++, false);
        for (int window : windows)
            for (double taps : tapsList) {
                if (taps != 3 && window != 0 && window != 3) continue;
                Frame("random", input, Settings{size.x, size.y, taps, window, true});
                ++count;
            }
    }
    Check(count > 0,
          std::to_string(count) + " filtered images printed for comparison, each the same with the SIMD box off");
}

void NoPassCases() {
    Outcome outcome;
    const Image same = RandomImage(320, 240, 5, false);
    Image result = Filter(same, Defaults(), &outcome);
    Check(outcome.result && outcome.reads == 0 && outcome.writes == 0 && ImageHash(result) == ImageHash(same),
          "320 x 240 with X 320, Y 240: true, no read, no write");
    const Image small = RandomImage(100, 240, 6, false);
    result = Filter(small, Defaults(), &outcome);
    Check(outcome.result && outcome.reads == 0 && outcome.writes == 0, "100 x 240: true, no read, no write");
    // One pixel more in either direction is filtered.
    result = Filter(RandomImage(321, 240, 7, false), Defaults(), &outcome);
    Check(outcome.result && outcome.reads == 1 && outcome.writes == 1, "321 x 240: read and written");
    result = Filter(RandomImage(320, 241, 8, false), Defaults(), &outcome);
    Check(outcome.result && outcome.reads == 1 && outcome.writes == 1, "320 x 241: read and written");
}

bool reverseOrder = false;  // --reverse: instance B runs first

void InterleavedInstances() {
    // Two objects with the effect, same image size, different settings:
    // the editor writes each one's values into the items before its call.
    const Image imageA = RandomImage(400, 300, 11, false);
    const Image imageB = RandomImage(400, 300, 12, false);
    const Settings a{200, 150, 5, 1, true};
    const Settings b{380, 64, 15, 0, false};
    Outcome outcome;
    // Which one runs first must not matter: the compare script runs this
    // both ways round and compares the hashes.
    std::uint64_t soloA = 0;
    std::uint64_t soloB = 0;
    if (reverseOrder) {
        soloB = ImageHash(Filter(imageB, b, &outcome));
        soloA = ImageHash(Filter(imageA, a, &outcome));
    } else {
        soloA = ImageHash(Filter(imageA, a, &outcome));
        soloB = ImageHash(Filter(imageB, b, &outcome));
    }
    std::printf("out instances A=%016" PRIx64 " B=%016" PRIx64 "\n", soloA, soloB);
    bool same = true;
    for (int round = 0; round < 3; ++round) {
        same = same && ImageHash(Filter(imageA, a, &outcome)) == soloA;
        same = same && ImageHash(Filter(imageB, b, &outcome)) == soloB;
    }
    Check(same && soloA != soloB, "two interleaved instances with different settings each get their own result");
    // A value changed between two frames of one instance takes effect at once.
    Settings a2 = a;
    a2.taps = 6;
    Check(ImageHash(Filter(imageA, a2, &outcome)) != soloA && ImageHash(Filter(imageA, a, &outcome)) == soloA,
          "a new value on the next frame is used on that frame");

    // Animated values: non-integral values round to the nearest integer,
    // halves up; out-of-range values clamp.
    struct Rounding {
        Settings given;
        Settings same;
        const char* what;
    };
    const Rounding rounding[] = {
        {{200.4, 150, 5, 1, true}, a, "X 200.4 acts as 200"},
        {{199.5, 149.5, 4.5, 1, true}, a, "X 199.5, Y 149.5, N 4.5 act as 200, 150, 5 (halves up)"},
        {{200, 150, 5.49, 1, true}, a, "N 5.49 acts as 5"},
        {{100000, 150, 5, 1, true}, {16384, 150, 5, 1, true}, "X above 16384 acts as 16384"},
        {{-5, 150, 5, 1, true}, {32, 150, 5, 1, true}, "X below 32 acts as 32"},
        {{200, 150, 99, 1, true}, {200, 150, 15, 1, true}, "N above 15 acts as 15"},
        {{200, 150, 0.2, 1, true}, {200, 150, 1, 1, true}, "N below 1 acts as 1"},
        {{200, 150, 5, 7, true}, {200, 150, 5, 3, true}, "a window value outside the list acts as Blackman"},
        {{200, 150, std::nan(""), 1, true}, {200, 150, 3, 1, true}, "N NaN acts as the default 3"},
    };
    for (const Rounding& r : rounding) {
        const std::uint64_t given = ImageHash(Filter(imageA, r.given, &outcome));
        const bool ok = outcome.result;
        Check(ok && given == ImageHash(Filter(imageA, r.same, &outcome)), r.what);
    }
}

void FilterObject() {
    // As a filter object the filter gets the frame drawn so far; it treats
    // it like any object's image.
    const Image frame = RandomImage(scene.width / 4, scene.height / 4, 21, true);
    const Settings settings{240, 135, 3, 3, true};
    const std::uint64_t asObject = Frame("object", frame, settings, 0);
    const std::uint64_t asFilter = Frame("filter-object", frame, settings, kObjectFlagFilterObject);
    Check(asObject == asFilter, "a filter-object call (object flag 1) filters like an object's call");
}

void HalfRamp() {
    // Every half from 0 to 1.0 (15361 levels), each a block of 8 x 8
    // pixels, opaque: with N 3 the centre pixel of a block sees only its
    // own level, both ways, and must come back with its very bits.
    constexpr int kLevels = 0x3C00 + 1;
    constexpr int kBlocksAcross = 128;
    const int blocksDown = (kLevels + kBlocksAcross - 1) / kBlocksAcross;
    Image ramp = MakeImage(kBlocksAcross * 8, blocksDown * 8);
    const auto level = [](int bx, int by) { return std::min(by * kBlocksAcross + bx, kLevels - 1); };
    for (int y = 0; y < ramp.h; ++y)
        for (int x = 0; x < ramp.w; ++x) {
            const auto v = static_cast<std::uint16_t>(level(x / 8, y / 8));
            ramp.At(x, y) = PIXEL_HF64{v, v, v, kHalfOne};
        }
    for (bool simd : {true, false}) {
        Outcome outcome;
        const Image result = Filter(ramp, Settings{ramp.w / 2.0, ramp.h / 2.0, 3, 3, simd}, &outcome);
        int kept = 0;
        for (int by = 0; by < blocksDown; ++by)
            for (int bx = 0; bx < kBlocksAcross; ++bx) {
                const PIXEL_HF64& p = result.At(bx * 8 + 4, by * 8 + 4);
                const auto v = static_cast<std::uint16_t>(level(bx, by));
                kept += p.r == v && p.g == v && p.b == v && p.a == kHalfOne;
            }
        Check(outcome.result && outcome.writes == 1 && kept == kBlocksAcross * blocksDown,
              std::string("half-float ramp 0 .. 1.0, ") + (simd ? "SIMD" : "portable") + ": " + std::to_string(kept) +
                  " of " + std::to_string(kBlocksAcross * blocksDown) +
                  " blocks keep their level where the kernel is flat");
    }
}

void Light() {
    // Colours up to 4.0 (light beyond white), opaque: not ordinary
    // premultiplied data, so nothing clamps them to alpha. A block of 4.0
    // keeps 4.0; the edges against 0.5 still reach above 1.
    Image image = MakeImage(200, 120);
    const std::uint16_t four = 0x4400, half = 0x3800, two = 0x4000;
    for (int y = 0; y < image.h; ++y)
        for (int x = 0; x < image.w; ++x) {
            const bool bright = (x / 40 + y / 40) % 2 == 0;
            image.At(x, y) =
                PIXEL_HF64{bright ? four : half, two, static_cast<std::uint16_t>(bright ? half : 0), kHalfOne};
        }
    for (bool simd : {true, false}) {
        Outcome outcome;
        const Image result = Filter(image, Settings{100, 60, 7, 3, simd}, &outcome);
        int above = 0, negative = 0;
        for (int y = 0; y < result.h; ++y)
            for (int x = 0; x < result.w; ++x) {
                const PIXEL_HF64& p = result.At(x, y);
                above += HalfValue(p.r) > 1.0;
                negative += !(HalfValue(p.r) >= 0 && HalfValue(p.g) >= 0 && HalfValue(p.b) >= 0) || p.a != kHalfOne;
            }
        const PIXEL_HF64& centre = result.At(20, 20);
        Check(outcome.result && outcome.writes == 1 && centre.r == four && centre.g == two &&
                  above > result.w * result.h / 3 && negative == 0,
              std::string("values up to 4.0, ") + (simd ? "SIMD" : "portable") + ": " + std::to_string(above) +
                  " pixels stay above 1.0, a flat 4.0 stays 4.0, nothing below 0, alpha 1");
    }
}

void OpaqueAndConstant() {
    Outcome outcome;
    // Opaque input stays opaque, even with strong ringing.
    const Image opaque = RandomImage(300, 200, 31, true);
    for (bool simd : {true, false}) {
        const Image result = Filter(opaque, Settings{64, 48, 15, 0, simd}, &outcome);
        bool allOpaque = outcome.result && outcome.writes == 1;
        for (int y = 0; y < result.h; ++y)
            for (int x = 0; x < result.w; ++x) allOpaque = allOpaque && result.At(x, y).a == kHalfOne;
        Check(allOpaque && InvalidPixels(result) == 0,
              std::string("opaque input stays opaque (rectangular, N 15), ") + (simd ? "SIMD" : "portable"));
    }
    // A constant image comes back bit for bit: premultiplied, and with light above 1.
    const PIXEL_HF64 constants[] = {{0x34CD, 0x3266, 0x2E66, 0x3800},    // 0.3, 0.2, 0.1 at alpha 0.5
                                    {0x4100, 0x4200, 0x0001, kHalfOne},  // 2.5, 3, the smallest subnormal
                                    {0, 0, 0, 0}};
    for (const PIXEL_HF64& c : constants)
        for (bool simd : {true, false}) {
            Image flat = MakeImage(333, 222);
            for (int y = 0; y < flat.h; ++y)
                for (int x = 0; x < flat.w; ++x) flat.At(x, y) = c;
            const Image result = Filter(flat, Settings{40, 40, 15, 0, simd}, &outcome);
            char what[128];
            std::snprintf(what, sizeof what, "a constant image %04x %04x %04x %04x comes back bit for bit, %s", c.r,
                          c.g, c.b, c.a, simd ? "SIMD" : "portable");
            Check(outcome.result && outcome.writes == 1 && SameBytes(result, flat) && SlackIntact(result), what);
        }
}

void AlphaLikeColour() {
    // Alpha is filtered in its own lane; it must come out exactly as a
    // colour with the same samples does. Red equals alpha everywhere here,
    // so it must still equal it after.
    const struct {
        int w, h;
        double x, y;
    } cases[] = {{301, 202, 100, 100}, {301, 100, 100, 240}, {100, 202, 320, 100}};
    for (const auto& c : cases)
        for (bool simd : {true, false}) {
            Image input = RandomImage(c.w, c.h, 51, false);
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x) input.At(x, y).r = input.At(x, y).a;
            Outcome outcome;
            const Image result = Filter(input, Settings{c.x, c.y, 7, 0, simd}, &outcome);
            long long differing = 0;
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x) differing += result.At(x, y).r != result.At(x, y).a;
            Check(outcome.result && outcome.writes == 1 && differing == 0 && ImageHash(result) != ImageHash(input),
                  "alpha filtered exactly as a colour, " + std::to_string(c.w) + " x " + std::to_string(c.h) +
                      (simd ? ", SIMD" : ", portable") + " (" + std::to_string(differing) + " pixels differ)");
        }
}

void Ringing() {
    // A hard edge against transparency, rectangular window, N 15, cutoff
    // 1/16: the strongest ringing the settings allow. Colour and alpha
    // ring differently (the colour has an edge of its own just inside),
    // so unclamped results would leave colours above alpha and alpha below 0.
    Image edge = MakeImage(256, 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const bool inside = x < 128 && y < 128;
            const bool lit = inside && (x >= 120 || y >= 120);
            edge.At(x, y) = inside ? PIXEL_HF64{static_cast<std::uint16_t>(lit ? kHalfOne : 0), kHalfOne,
                                                static_cast<std::uint16_t>(lit ? 0 : 0x3A00), kHalfOne}
                                   : PIXEL_HF64{0, 0, 0, 0};
        }
    for (bool simd : {true, false}) {
        Outcome outcome;
        const Image result = Filter(edge, Settings{32, 32, 15, 0, simd}, &outcome);
        int spread = 0;
        for (int x = 128; x < 256; ++x)
            if (result.At(x, 60).a != 0) ++spread;
        Check(outcome.result && spread > 0 && InvalidPixels(result) == 0,
              std::string("premultiplied after strong ringing, ") + (simd ? "SIMD" : "portable") +
                  ": alpha in 0 .. 1, every colour in 0 .. its alpha; alpha reaches " + std::to_string(spread) +
                  " pixels into the transparent side");
    }
}

void CallersControlWord() {
    // The editor says nothing of the MXCSR its calls come with. Called
    // with rounding toward zero and subnormals flushed, the filter must
    // give the frames of the default word and hand the caller's word back.
    const Image input = RandomImage(400, 300, 71, false);
    for (bool simd : {true, false}) {
        const Settings settings{150, 100, 7, 3, simd};
        Outcome outcome;
        const std::uint64_t expected = ImageHash(Filter(input, settings, &outcome));
        const unsigned callers = _mm_getcsr();
        const unsigned odd = (callers & ~0x603Fu) | 0x6000u | 0x8040u;
        Apply(settings);
        Image image = input;
        session = Session{};
        session.image = &image;
        _mm_setcsr(odd);
        outcome = Call();
        const unsigned after = _mm_getcsr() & ~0x3Fu;  // the control bits: the flags are sticky
        _mm_setcsr(callers);
        session.image = nullptr;
        char word[96];
        std::snprintf(word, sizeof word, "%04x; result %d, %d writes, %s frame", after, outcome.result ? 1 : 0,
                      outcome.writes, ImageHash(image) == expected ? "the usual" : "another");
        Check(outcome.result && outcome.writes == 1 && ImageHash(image) == expected && after == odd,
              std::string("called with MXCSR rounding toward zero and flushing: the usual frame, ") +
                  (simd ? "SIMD" : "portable") + "; the caller's word back (" + word + ")");
    }
}

void BadInput() {
    const Image input = RandomImage(500, 400, 41, false);
    const std::uint64_t before = ImageHash(input);
    const Settings settings = Defaults();
    // Each failure: true (the object is still drawn), nothing written, the
    // image as it was, and the editor's log told once, with the size.
    const auto failure = [&](const std::string& what, void (*setUp)(Session&), int warnings, const char* size) {
        Image image = input;
        Apply(settings);
        session = Session{};
        session.image = &image;
        setUp(session);
        const std::string lastBefore = logRecord.lastWarning;
        const Outcome outcome = Call();
        const bool named = warnings == 0 || (logRecord.lastWarning != lastBefore &&
                                             logRecord.lastWarning.find(size) != std::string::npos);
        session.image = nullptr;
        Check(outcome.result && ImageHash(image) == before && (outcome.writes == 0 || session.writeFails) &&
                  outcome.warnings == warnings && named,
              what + ": true, the image as it was, " + std::to_string(outcome.warnings) + " warning(s)" +
                  (warnings > 0 ? " naming " + std::string(size) + ": " + logRecord.lastWarning : std::string()));
    };
    failure(
        "the size call fails", [](Session& s) { s.sizeFails = true; }, 1, "0 x 0");
    failure(
        "the read fails", [](Session& s) { s.readFails = true; }, 1, "500 x 400");
    failure(
        "the read fails again at once (a warning at most once a second)", [](Session& s) { s.readFails = true; }, 0,
        "");
    failure(
        "the write fails", [](Session& s) { s.writeFails = true; }, 1, "500 x 400");
    failure(
        "no memory for the image's copy (the size call says 1000000 x 1000000)",
        [](Session& s) {
            s.reportW = 1000000;
            s.reportH = 1000000;
        },
        1, "1000000 x 1000000");
    for (const auto& empty : {std::pair{0, 0}, std::pair{0, 300}, std::pair{400, 0}}) {
        Image image = MakeImage(empty.first, empty.second);
        Apply(settings);
        session = Session{};
        session.image = &image;
        const Outcome outcome = Call();
        session.image = nullptr;
        Check(outcome.result && outcome.reads == 0 && outcome.writes == 0 && outcome.warnings == 0,
              "a " + std::to_string(empty.first) + " x " + std::to_string(empty.second) +
                  " image: true, no read, no write, no warning");
    }
    Check(!wrongHandle && OtherLogLines() == 0, "warnings only, each through the handle InitializeLogger was given");
}

// Two threads calling at once, many times: two objects of different sizes
// (the pool and the working memory are shared), each frame as one call alone.
void Threads() {
    const Image imageA = RandomImage(640, 360, 61, false);
    const Image imageB = RandomImage(500, 420, 62, true);
    const Settings settings{200, 150, 7, 3, true};
    Apply(settings);
    Outcome outcome;
    const std::uint64_t soloA = ImageHash(FilterAsSet(imageA, &outcome));
    const std::uint64_t soloB = ImageHash(FilterAsSet(imageB, &outcome));
    constexpr int kRounds = 12;
    std::atomic<int> wrong{0};
    const auto caller = [&](const Image* image, std::uint64_t expected) {
        for (int round = 0; round < kRounds; ++round) {
            Outcome o;
            if (ImageHash(FilterAsSet(*image, &o)) != expected || !o.result) ++wrong;
        }
    };
    std::thread a(caller, &imageA, soloA);
    std::thread b(caller, &imageB, soloB);
    a.join();
    b.join();
    std::printf("out threads A=%016" PRIx64 " B=%016" PRIx64 "\n", soloA, soloB);
    Check(wrong.load() == 0, "two threads calling at once, " + std::to_string(kRounds) + " times each: " +
                                 std::to_string(wrong.load()) + " frames differ from the frame of one call alone");
}

// The large image: two kinds of row (alpha alternating every 512 pixels,
// opaque and 0.457, in opposite phase), swapped every 512 rows, colours at
// most alpha; computed once, copied as the plug-in reads.
std::vector<PIXEL_HF64> largeRows[2];

void MakeLargeRows(int w) {
    for (int kind = 0; kind < 2; ++kind) {
        largeRows[kind].resize(static_cast<std::size_t>(w));
        for (int x = 0; x < w; ++x) {
            const std::uint16_t a = (((x >> 9) + kind) & 1) ? kHalfOne : 0x3750;
            const double av = HalfValue(a);
            const auto scaled = [av](std::uint32_t v) {
                return HalfAtMost(static_cast<double>(v & 0xFFFF) / 65535.0 * av);
            };
            largeRows[kind][static_cast<std::size_t>(x)] =
                PIXEL_HF64{scaled(static_cast<std::uint32_t>(x) * 4), scaled(static_cast<std::uint32_t>(x) * 97),
                           scaled(static_cast<std::uint32_t>(kind) * 50000), a};
        }
    }
}

const PIXEL_HF64* LargeRow(int y) { return largeRows[(y >> 9) & 1].data(); }

void Large() {
    // The editor's largest image. The host computes it row by row as the
    // plug-in reads it and hashes what is written, so the plug-in's own
    // copy (8 bytes a pixel) is the only large allocation.
    constexpr int side = 16384;
    MakeLargeRows(side);
    Apply(Settings{8192, 12000, 3, 3, true});
    const std::uint64_t before = lowpass::standin2::CommittedMemoryBytes();
    session = Session{};
    session.pattern = LargeRow;
    session.patternW = side;
    session.patternH = side;
    const Outcome outcome = Call();
    std::printf("out large %dx%d result=%d reads=%d writes=%d hash=%016" PRIx64 "\n", side, side, outcome.result ? 1 : 0,
                outcome.reads, outcome.writes, session.written.value);
    Check(outcome.result && outcome.reads == 1 && outcome.writes == 1 && session.invalidPixels == 0 &&
              outcome.warnings == 0,
          "16384 x 16384 filtered and written, valid premultiplied data");
    // When the result is handed over the plug-in holds its copy of the
    // image (2 GiB) and nothing else of that order.
    const std::uint64_t copy = static_cast<std::uint64_t>(side) * side * 8;
    const std::uint64_t grown = session.memoryAtWrite > before ? session.memoryAtWrite - before : 0;
    Check(grown >= copy / 2 && grown <= copy + (64ull << 20),
          "memory held at the write: " + std::to_string(grown >> 20) + " MiB more than before the call (the copy is " +
              std::to_string(copy >> 20) + " MiB)");
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 1 << 16);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s MODULE [--large | --table | --reverse | --threads]\n", argv[0]);
        return 2;
    }
    const std::string mode = argc > 2 ? argv[2] : "";
    reverseOrder = mode == "--reverse";

    PluginModule module;
    std::string error;
    if (!lowpass::standin2::LoadPluginModule(argv[1], &module, &error)) {
        Check(false, "load " + std::string(argv[1]) + ": " + error);
        std::printf("host: %d checks passed, %d failed\n", checksPassed, checksFailed);
        return 1;
    }
    Check(module.getFilterPluginTable && module.requiredVersion && module.initializePlugin &&
              module.uninitializePlugin && module.initializeLogger,
          "exports GetFilterPluginTable, RequiredVersion, InitializePlugin, UninitializePlugin, InitializeLogger");
    if (!module.getFilterPluginTable || !module.requiredVersion || !module.initializePlugin ||
        !module.uninitializePlugin || !module.initializeLogger) {
        std::printf("host: %d checks passed, %d failed\n", checksPassed, checksFailed);
        return 1;
    }

    // The editor's order: the version it must be, the logger, initialisation, the table.
    const Dword required = module.requiredVersion();
    Check(required == kVersion2_1_0, "RequiredVersion " + std::to_string(required));
    module.initializeLogger(&logHandle);
    Check(!module.initializePlugin(2000000), "InitializePlugin refuses 2.0.0");
    Check(module.initializePlugin(kVersion2_1_0), "InitializePlugin accepts 2.1.0");
    table = module.getFilterPluginTable();
    CheckTable();
    if (table == nullptr || table->func_proc_video == nullptr || Items().size() != 5) {
        std::printf("host: %d checks passed, %d failed\n", checksPassed, checksFailed);
        return 1;
    }

    if (mode == "--large") {
        Large();
    } else if (mode == "--reverse") {
        InterleavedInstances();
    } else if (mode == "--threads") {
        Threads();
    } else if (mode != "--table") {
        FrameCases();
        NoPassCases();
        InterleavedInstances();
        FilterObject();
        HalfRamp();
        Light();
        OpaqueAndConstant();
        AlphaLikeColour();
        Ringing();
        Threads();
        CallersControlWord();
        BadInput();
    }

    module.uninitializePlugin();
    std::printf("host: %d checks passed, %d failed\n", checksPassed, checksFailed);
    return checksFailed == 0 ? 0 : 1;
}
