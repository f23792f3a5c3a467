// lowpass-host: a stand-in for the editor. It loads the plug-in by its file
// name through the system loader, copies the descriptor into its own FILTER
// record, owns the slider and check-box arrays and the service table, and
// drives the filter as the editor does: defaults, the first settings update,
// frames, setting changes, the size message and key forwarding.
//
// Lines starting with "out " describe what the plug-in did in a form that
// is the same on every platform for the same engine: the native build and
// the 32-bit Windows build (under wine) are compared on them. Lines starting
// with "check " are this program's own verdicts; the exit status is non-zero
// if any of them failed.
//
//   lowpass-host MODULE [--x87 HEX] [--threads N] [--dump CASE]
//   lowpass-host MODULE --time WxH [--taps N] [--frames K] [--threads N] [--x87 HEX]
//
// --threads N: exec_multi_thread_func runs its body on N threads (default
// the processor count); 0 leaves the entry null. Each worker starts the
// body rounding toward zero, unlike the caller: the plug-in must convert
// under the caller's mode and hand every worker back its own, out of MMX
// state.
//
// --time WxH: instead of the checks, times the filter as the editor runs
// it: X = round(0.44 w), Y = round(0.44 h), N taps (default 3), Blackman,
// SIMD on (the plug-in picks its engine), one settings update, then a
// frame of random samples in the nominal range (y 0..4096, cb and cr
// -2048..2048) in buffers 16 pixels wider than the row, filtered once
// untimed (the kernel tables are built then) and K times (default 50)
// timed. Prints "time" lines: the settings, the median, lowest and
// highest per-frame time of func_proc in ms, and the engine (told from
// the results as below; which of the SSE arithmetic's implementations runs
// cannot be seen from outside, so the one the registry picks for this
// processor and system, which is what the SIMD box picks, is printed
// beside it).
//
// Built as lowpass-host-mmx (LOWPASS_HOST_MMX_ONLY), the same program is
// linked with the filter instead of loading it, and after every
// GetFilterTable it sets the probed capabilities to "MMX only": the way to
// have the settings choose the MMX engine on a processor with SSE, and so
// to compare the MMX engine of the native and the Windows build too.
//   lowpass-host-mmx [--x87 HEX] [--threads N] [--dump CASE]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "plugin/filter_settings.h"
#include "simd/cpu_probe.h"
#include "simd/engines.h"
#include "tests/hosts/standin_host/host_platform.h"
#include "tests/hosts/standin_host/sha256.h"
#include "tests/hosts/standin_host/stand_in_host.h"
#include "tools/threads/thread_pool.h"

#if defined(LOWPASS_HOST_MMX_ONLY)
#include "plugin/filter_export.h"
#include "plugin/plugin_state.h"

// GetFilterTable as on a processor with MMX but without SSE (so without
// SSE2 and AVX2 too).
extern "C" FILTER_DLL* LP_STDCALL MmxOnlyGetFilterTable(void) {
    FILTER_DLL* descriptor = GetFilterTable();
    lowpass::cpuCaps = lowpass::kCpuCapsMmx;
    lowpass::sseImplementations = 0;
    return descriptor;
}
#endif

namespace {

using lowpass::standin::CallGetFilterTable;
using lowpass::standin::CallProc;
using lowpass::standin::CallUpdate;
using lowpass::standin::CallWndProc;
using lowpass::standin::FramePair;
using lowpass::standin::GuardedFrame;

using lowpass::kSizeRequest;
constexpr int kTrackCapacity = 8;
constexpr int kCheckCapacity = 8;

int checksPassed = 0;
int checksFailed = 0;

// A failed check also names the random data's seeds, so that it can be
// replayed.
void Check(bool ok, const std::string& what) {
    std::printf("check %s: %s%s\n", ok ? "PASS" : "FAIL", what.c_str(),
                ok ? "" : (" [" + lowpass::standin::RunSeedNote() + "]").c_str());
    (ok ? checksPassed : checksFailed)++;
}

std::string Hex(const char* text) {
    if (text == nullptr) return "null";
    std::string out;
    char digits[3];
    for (const char* p = text; *p; ++p) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(*p));
        out += digits;
    }
    return out;
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// The editor's side of the plug-in: its own FILTER record, the arrays it
// owns and the service table (52 entries and some spare, every one of them
// filled).
struct Host {
    FILTER filter{};
    int track[kTrackCapacity] = {};
    int check[kCheckCapacity] = {};
    struct {
        EXFUNC table;
        void* spare[12];
    } services{};
    int windowUpdates = 0;
    int activeQueries = 0;
    int unexpectedServices = 0;
    int servicesWithForeignFilter = 0;
    BOOL active = TRUE;

    FILTER_DLL* descriptor = nullptr;
    lowpass::standin::GetFilterTableFunc getFilterTable = nullptr;
    lowpass::standin::OwnerWindows windows;

    std::uint16_t controlWord = 0;
    std::uint32_t mxcsr = 0;
    int callbacks = 0;
    int stateChanges = 0;
    std::string firstStateChange;

    // exec_multi_thread_func's workers (null: the entry is null).
    std::unique_ptr<lowpass::threads::ThreadPool> pool;
    int execCalls = 0;
    std::atomic<int> workerBodies{0};
    std::atomic<int> workerStateChanges{0};
    std::mutex workerMutex;
    std::string firstWorkerChange;
};

Host host;

BOOL LP_CDECL WindowUpdateService(FILTER* fp) {
    if (fp != &host.filter) ++host.servicesWithForeignFilter;
    ++host.windowUpdates;
    return TRUE;
}

BOOL LP_CDECL IsActiveService(FILTER* fp) {
    if (fp != &host.filter) ++host.servicesWithForeignFilter;
    ++host.activeQueries;
    return host.active;
}

// Every other entry: the filter has no business calling it. C calls pop
// their own arguments, so one function serves every signature.
BOOL LP_CDECL UnexpectedService() {
    ++host.unexpectedServices;
    return FALSE;
}

// exec_multi_thread_func. Each worker enters the body rounding toward zero
// (the caller rounds to nearest): the plug-in must set the caller's mode
// for its band and give the worker's back, leave the x87 control word and
// leave no MMX state.
struct WorkerCall {
    ExFuncThreadBody body;
    void* p1;
    void* p2;
};

constexpr std::uint32_t kMxcsrRounding = 0x6000;
constexpr std::uint32_t kWorkerRounding = 0x6000;  // toward zero

void LP_CDECL CheckedWorker(int threadId, int threadNum, void* p1, void*) {
    const WorkerCall& call = *static_cast<const WorkerCall*>(p1);
    const std::uint32_t own = lowpass::standin::ReadMxcsr();
    const std::uint16_t cw = lowpass::standin::ReadX87ControlWord();
    const std::uint32_t mode = (own & ~kMxcsrRounding) | kWorkerRounding;
    lowpass::standin::SetMxcsr(mode);
    lowpass::standin::CallThreadBody(call.body, threadId, threadNum, call.p1, call.p2);
    const std::uint32_t mxcsr = lowpass::standin::ReadMxcsr();
    const std::uint16_t cwAfter = lowpass::standin::ReadX87ControlWord();
    const std::uint16_t tags = lowpass::standin::ReadX87TagWord();
    ++host.workerBodies;
    if ((mxcsr & ~0x3Fu) != (mode & ~0x3Fu) || cwAfter != cw || tags != 0xFFFF) {
        if (host.workerStateChanges++ == 0) {
            std::lock_guard<std::mutex> lock(host.workerMutex);
            host.firstWorkerChange = Printf("thread %d of %d left MXCSR 0x%08x (entered with 0x%08x), x87 control word "
                                            "0x%04x (0x%04x), tag word 0x%04x",
                                            threadId, threadNum, static_cast<unsigned>(mxcsr),
                                            static_cast<unsigned>(mode), cwAfter, cw, tags);
        }
        if (cwAfter != cw) lowpass::standin::SetX87ControlWord(cw);
    }
    lowpass::standin::SetMxcsr(own);
}

BOOL LP_CDECL ExecMultiThreadService(ExFuncThreadBody body, void* p1, void* p2) {
    ++host.execCalls;
    WorkerCall call{body, p1, p2};
    return host.pool->Run(CheckedWorker, &call, nullptr) ? TRUE : FALSE;
}

// After every callback: the plug-in must hand the processor back as it got
// it (x87 control word, SSE control register).
void AfterCallback(const char* what) {
    ++host.callbacks;
    const std::uint16_t cw = lowpass::standin::ReadX87ControlWord();
    const std::uint32_t mxcsr = lowpass::standin::ReadMxcsr();
    // MXCSR's low six bits are sticky exception flags that any SSE
    // arithmetic sets (inexact results, for one); the rest is control.
    if (cw != host.controlWord || (mxcsr & ~0x3Fu) != (host.mxcsr & ~0x3Fu)) {
        if (host.stateChanges++ == 0)
            host.firstStateChange =
                Printf("%s left x87 control word 0x%04x, MXCSR 0x%08x", what, cw, static_cast<unsigned>(mxcsr));
        lowpass::standin::SetX87ControlWord(host.controlWord);
    }
}

BOOL Update() {
    const BOOL result = CallUpdate(host.filter.func_update, &host.filter, 0);
    AfterCallback("func_update");
    return result;
}

BOOL Proc(FilterProcFunc proc, FILTER_PROC_INFO* fpip) {
    const BOOL result = CallProc(proc, &host.filter, fpip);
    AfterCallback("func_proc");
    return result;
}

BOOL WndProc(UINT message, WPARAM wparam, LPARAM lparam) {
    const BOOL result =
        CallWndProc(host.filter.func_WndProc, host.filter.hwnd, message, wparam, lparam, nullptr, &host.filter);
    AfterCallback("func_WndProc");
    return result;
}

std::string CheckArray() {
    std::string out;
    for (int i = 0; i < host.filter.check_n && i < kCheckCapacity; ++i) {
        if (i > 0) out.push_back(',');
        out.append(std::to_string(host.check[i]));
    }
    return out;
}

// --- frames ------------------------------------------------------------------

struct FrameOutcome {
    BOOL result = FALSE;
    bool resultInEdit = true;
    std::string digest;
    bool sentinelsIntact = true;  // and the exchanges match the passes that should run
    bool sourceIntact = true;
    std::string where;
};

std::string Digest(const GuardedFrame& frame) {
    lowpass::standin::Sha256 sha;
    for (int y = 0; y < frame.h(); ++y)
        for (int x = 0; x < frame.w(); ++x) {
            const PIXEL_YC& p = frame.at(x, y);
            const std::int16_t samples[3] = {p.y, p.cb, p.cr};
            for (std::int16_t s : samples) {
                const auto u = static_cast<std::uint16_t>(s);
                const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8)};
                sha.Update(bytes, 2);
            }
        }
    return sha.HexDigest();
}

void Dump(const GuardedFrame& frame) {
    for (int y = 0; y < frame.h(); ++y) {
        std::printf("dump row %d:", y);
        for (int x = 0; x < frame.w(); ++x) {
            const PIXEL_YC& p = frame.at(x, y);
            std::printf(" %d,%d,%d", p.y, p.cb, p.cr);
        }
        std::printf("\n");
    }
}

// Fills a frame from a seed: samples in [lo, hi], or all equal to lo when
// lo == hi.
FrameOutcome RunFrame(FilterProcFunc proc, int w, int h, int maxW, std::uint32_t seed, int lo, int hi,
                      bool dump = false) {
    FramePair frames(w, h, maxW, h + 1);
    frames.edit.FillRandom(seed, lo, hi);
    GuardedFrame input(w, h, maxW, h + 1, 1);
    input.CopyPicture(frames.edit);

    FrameOutcome outcome;
    outcome.result = Proc(proc, &frames.info);
    outcome.resultInEdit = frames.ResultIsOriginalEdit();
    auto isHostBuffer = [&frames](const PIXEL_YC* p) { return p == frames.originalEdit || p == frames.originalTemp; };
    const bool exchanged = isHostBuffer(frames.info.ycp_edit) && isHostBuffer(frames.info.ycp_temp) &&
                           frames.info.ycp_edit != frames.info.ycp_temp;
    // One exchange per pass: across when w > X, down when h > Y.
    const int passes = (w > host.track[0] ? 1 : 0) + (h > host.track[1] ? 1 : 0);
    const GuardedFrame& result = frames.Result();
    outcome.digest = Digest(result);
    if (dump) Dump(result);
    std::string where;
    if (!frames.edit.SentinelsIntact(&where) || !frames.temp.SentinelsIntact(&where)) {
        outcome.sentinelsIntact = false;
        outcome.where = where;
    }
    if (!exchanged) {
        outcome.sentinelsIntact = false;
        outcome.where = "the buffer pointers were not an exchange of the two buffers";
    } else if (outcome.resultInEdit != (passes % 2 == 0)) {
        outcome.sentinelsIntact = false;
        outcome.where = Printf("%d pass(es) should run, but the result is in the original %s", passes,
                               outcome.resultInEdit ? "ycp_edit" : "ycp_temp");
    } else if (passes == 0 && !frames.edit.PictureEquals(input, &where)) {
        outcome.sentinelsIntact = false;
        outcome.where = "no pass should run, but the frame changed: " + where;
    }
    // With the result in ycp_temp exactly one pass ran, and it read ycp_edit
    // without writing it.
    if (!outcome.resultInEdit && !frames.edit.PictureEquals(input, &where)) {
        outcome.sourceIntact = false;
        outcome.where = "source written: " + where;
    }
    return outcome;
}

// Which engine's arithmetic a func_proc value runs (by the registry's name
// for it), from what it does to a uniform area of odd value (the settings
// must have loaded a window first): the portable engine keeps it, the SSE
// arithmetic's result rule raises it by one, the MMX engine's products
// rounded toward minus infinity lower it.
std::map<FilterProcFunc, std::string> engineNames;

std::string EngineOf(FilterProcFunc proc) {
    auto known = engineNames.find(proc);
    if (known != engineNames.end()) return known->second;
    int saved[3] = {host.track[0], host.track[1], host.track[2]};
    host.track[0] = 32;
    host.track[1] = 32;
    host.track[2] = 3;
    FramePair frames(67, 35, 67, 35);
    frames.edit.FillRandom(1, 1001, 1001);
    Proc(proc, &frames.info);
    const int centre = frames.Result().at(33, 17).y;
    host.track[0] = saved[0];
    host.track[1] = saved[1];
    host.track[2] = saved[2];
    // The probe frame left tables for other settings in the cache: a
    // settings update (which changes no box) invalidates them.
    const int updates = host.windowUpdates;
    Update();
    host.windowUpdates = updates;
    const lowpass::Arithmetic arithmetic = centre == 1001  ? lowpass::Arithmetic::Portable
                                           : centre > 1001 ? lowpass::Arithmetic::Sse
                                                           : lowpass::Arithmetic::Mmx;
    std::string name = lowpass::ArithmeticName(arithmetic);
    engineNames[proc] = name;
    return name;
}

// --- the steps --------------------------------------------------------------

const char kNameCp932[] = "92e188e692ca89df83748342838b835e";  // 低域通過フィルタ

bool LoadAndDescribe(const char* path) {
    std::string error;
#if defined(LOWPASS_HOST_MMX_ONLY)
    (void)path;
    host.getFilterTable = MmxOnlyGetFilterTable;
#else
    host.getFilterTable = lowpass::standin::LoadFilterModule(path, &error);
#endif
    Check(host.getFilterTable != nullptr, "the module loads and exports GetFilterTable" + (error.empty() ? "" : ": " + error));
    if (host.getFilterTable == nullptr) return false;
    host.descriptor = CallGetFilterTable(host.getFilterTable);
    AfterCallback("GetFilterTable");
    Check(host.descriptor != nullptr, "GetFilterTable returns a descriptor");
    if (host.descriptor == nullptr) return false;
    const FILTER_DLL& d = *host.descriptor;

    std::printf("out descriptor flag=0x%08x x=%d y=%d name=%s track_n=%d check_n=%d\n", static_cast<unsigned>(d.flag),
                d.x, d.y, Hex(d.name).c_str(), d.track_n, d.check_n);
    for (int i = 0; i < d.track_n && i < kTrackCapacity; ++i)
        std::printf("out slider %d name=%s default=%d min=%d max=%d\n", i, Hex(d.track_name[i]).c_str(),
                    d.track_default[i], d.track_s[i], d.track_e[i]);
    for (int i = 0; i < d.check_n && i < kCheckCapacity; ++i)
        std::printf("out checkbox %d name=%s default=%d\n", i, Hex(d.check_name[i]).c_str(), d.check_default[i]);
    std::printf("out information=%s\n", Hex(d.information).c_str());
    auto set = [](const void* p) { return p ? "set" : "null"; };
    std::printf(
        "out fields func_proc=%s func_init=%s func_exit=%s func_update=%s func_WndProc=%s track=%s check=%s "
        "ex_data_ptr=%s ex_data_size=%d func_save_start=%s func_save_end=%s exfunc=%s hwnd=%s dll_hinst=%s "
        "ex_data_def=%s func_is_saveframe=%s func_project_load=%s func_project_save=%s func_modify_title=%s "
        "dll_path=%s\n",
        set(reinterpret_cast<const void*>(d.func_proc)), set(reinterpret_cast<const void*>(d.func_init)),
        set(reinterpret_cast<const void*>(d.func_exit)), set(reinterpret_cast<const void*>(d.func_update)),
        set(reinterpret_cast<const void*>(d.func_WndProc)), set(d.track), set(d.check), set(d.ex_data_ptr),
        d.ex_data_size, set(reinterpret_cast<const void*>(d.func_save_start)),
        set(reinterpret_cast<const void*>(d.func_save_end)), set(d.exfunc), set(d.hwnd), set(d.dll_hinst),
        set(d.ex_data_def), set(reinterpret_cast<const void*>(d.func_is_saveframe)),
        set(reinterpret_cast<const void*>(d.func_project_load)), set(reinterpret_cast<const void*>(d.func_project_save)),
        set(reinterpret_cast<const void*>(d.func_modify_title)), set(d.dll_path));

    Check(d.flag == FILTER_FLAG_EX_INFORMATION, Printf("flags word 0x%08x", static_cast<unsigned>(d.flag)));
    Check(Hex(d.name) == kNameCp932, "filter name in code page 932: " + Hex(d.name));
    const std::string information = Hex(d.information);
    const std::string expectedStart = std::string(kNameCp932) + Hex(" Ver 0.3.5 by ");
    Check(d.information != nullptr && information.rfind(expectedStart, 0) == 0 &&
              information.size() > expectedStart.size(),
          "information text is the name, \" Ver 0.3.5 by \" and a credit");
    Check(d.track_n == 3 && d.check_n == 5 && d.func_proc && d.func_update && d.func_WndProc && !d.func_init &&
              !d.func_exit,
          "three sliders, five boxes, func_proc/func_update/func_WndProc set, no init or exit callback");

    // A second call returns the same record (and resets the state again).
    FILTER_DLL* again = CallGetFilterTable(host.getFilterTable);
    AfterCallback("GetFilterTable");
    Check(again == host.descriptor, "a second GetFilterTable returns the same record");

    // The editor's own record: a copy of the descriptor with its arrays.
    host.filter = d;
    for (int i = 0; i < d.track_n && i < kTrackCapacity; ++i) host.track[i] = d.track_default[i];
    for (int i = 0; i < d.check_n && i < kCheckCapacity; ++i) host.check[i] = d.check_default[i];
    void** slots = reinterpret_cast<void**>(&host.services);
    for (std::size_t i = 0; i < sizeof host.services / sizeof(void*); ++i)
        slots[i] = reinterpret_cast<void*>(&UnexpectedService);
    host.services.table.filter_window_update = WindowUpdateService;
    host.services.table.is_filter_active = IsActiveService;
    host.services.table.exec_multi_thread_func = host.pool ? ExecMultiThreadService : nullptr;
    host.filter.track = host.track;
    host.filter.check = host.check;
    host.filter.exfunc = &host.services.table;
    host.filter.hwnd = host.windows.Available() ? host.windows.Settings() : nullptr;
    return true;
}

void FirstFrameAndUpdate() {
    // Until the first settings update the descriptor's scalar driver runs
    // with zero window weights: the frame comes back unchanged.
    FramePair frames(400, 300, 404, 301);
    frames.edit.FillRandom(lowpass::standin::SeedFor(7), -32768, 32767);
    GuardedFrame input(400, 300, 404, 301, 1);
    input.CopyPicture(frames.edit);
    const FilterProcFunc initial = host.filter.func_proc;
    Proc(initial, &frames.info);
    std::string where;
    const bool same = frames.Result().PictureEquals(input, &where);
    std::printf("out first-frame result=%s unchanged=%d\n", frames.ResultIsOriginalEdit() ? "edit" : "temp", same);
    Check(same, "the first frame after loading is passed through unchanged" + (same ? "" : ": " + where));
    Check(frames.ResultIsOriginalEdit(), "both passes ran on it (two exchanges: result in the original ycp_edit)");

    engineNames[initial] = lowpass::ArithmeticName(lowpass::Arithmetic::Portable);
    const int updatesBefore = host.windowUpdates;
    Update();
    const std::string engine = EngineOf(host.filter.func_proc);
    std::printf("out first-update check=%s window-updates=%d engine=%s\n", CheckArray().c_str(),
                host.windowUpdates - updatesBefore, engine.c_str());
    Check(CheckArray() == "1,0,0,0,1" && host.windowUpdates - updatesBefore == 1,
          "defaults on the first update: boxes unchanged, one window refresh");
}

void SettingChanges() {
    // Hanning on while Blackman is chosen.
    int before = host.windowUpdates;
    host.check[2] = 1;
    Update();
    std::printf("out hanning-on check=%s window-updates=%d\n", CheckArray().c_str(), host.windowUpdates - before);
    Check(CheckArray() == "1,0,1,0,0" && host.windowUpdates - before == 1, "Hanning on: Hanning only, one refresh");
    // The chosen box switched off comes back on.
    before = host.windowUpdates;
    host.check[2] = 0;
    Update();
    std::printf("out chosen-off check=%s window-updates=%d\n", CheckArray().c_str(), host.windowUpdates - before);
    Check(CheckArray() == "1,0,1,0,0" && host.windowUpdates - before == 1, "chosen box off: back on, one refresh");
    // Rectangular and Hamming newly on together: rectangular wins.
    before = host.windowUpdates;
    host.check[1] = 1;
    host.check[3] = 1;
    Update();
    std::printf("out rect-and-hamming check=%s window-updates=%d\n", CheckArray().c_str(), host.windowUpdates - before);
    Check(CheckArray() == "1,1,0,0,0", "rectangular and Hamming newly on: rectangular wins");
    // SIMD off: the portable engine, never MMX.
    host.check[0] = 0;
    Update();
    const std::string off = EngineOf(host.filter.func_proc);
    host.check[0] = 1;
    Update();
    const std::string on = EngineOf(host.filter.func_proc);
    std::printf("out engines simd-off=%s simd-on=%s\n", off.c_str(), on.c_str());
    const std::string portable = lowpass::ArithmeticName(lowpass::Arithmetic::Portable);
    Check(off == portable, "SIMD off chooses the portable engine (" + off + ")");
    Check(on != portable, "SIMD on chooses a vector engine on this processor (" + on + ")");
    // A slider change alone: no box changes, no refresh.
    before = host.windowUpdates;
    host.track[2] = 5;
    Update();
    Check(CheckArray() == "1,1,0,0,0" && host.windowUpdates == before, "a slider change alone refreshes nothing");
    host.track[2] = 3;
    Update();

    // GetFilterTable again: the window memory is forgotten, so the box that
    // is on counts as newly on at the next update (one refresh); without the
    // reset the memory would still hold it and nothing would be refreshed.
    FILTER_DLL* again = CallGetFilterTable(host.getFilterTable);
    AfterCallback("GetFilterTable");
    before = host.windowUpdates;
    Update();
    std::printf("out reload check=%s window-updates=%d\n", CheckArray().c_str(), host.windowUpdates - before);
    Check(again == host.descriptor && CheckArray() == "1,1,0,0,0" && host.windowUpdates - before == 1,
          "a second GetFilterTable resets the window memory: the chosen box is taken anew, one refresh");
}

void SizeRequests() {
    struct Request {
        WPARAM wparam;
        std::uint32_t lparam;
        BOOL active;
        int x, y;
        BOOL expected;
        int queries;
    };
    const Request requests[] = {
        {0, 0x01E00280u, TRUE, 640, 480, FALSE, 0},  {1, 0x01E00280u, TRUE, 640, 480, TRUE, 1},
        {5, 0x00F00140u, FALSE, 320, 240, FALSE, 1}, {1, 0xFFFF0000u, TRUE, 0, 65535, TRUE, 1},
        {0, 0x00000001u, TRUE, 1, 0, FALSE, 0},
    };
    for (const Request& r : requests) {
        host.active = r.active;
        const int updates = host.windowUpdates;
        const int queries = host.activeQueries;
        const BOOL result = WndProc(kSizeRequest, r.wparam, static_cast<LPARAM>(static_cast<std::int32_t>(r.lparam)));
        const int dUpdates = host.windowUpdates - updates;
        const int dQueries = host.activeQueries - queries;
        std::printf("out size-request wparam=%u lparam=0x%08x active=%d result=%d X=%d Y=%d window-updates=%d "
                    "active-queries=%d\n",
                    static_cast<unsigned>(r.wparam), static_cast<unsigned>(r.lparam), r.active, result, host.track[0],
                    host.track[1], dUpdates, dQueries);
        Check(result == r.expected && host.track[0] == r.x && host.track[1] == r.y && dUpdates == 1 &&
                  dQueries == r.queries,
              Printf("size request lparam 0x%08x wparam %u (filter %s): X=%d Y=%d result %d", static_cast<unsigned>(r.lparam),
                     static_cast<unsigned>(r.wparam), r.active ? "on" : "off", host.track[0], host.track[1], result));
    }
    host.active = TRUE;

    // The cache is invalidated: a frame of the size the cache last held,
    // filtered after the request, uses the new X (here only the vertical
    // direction exceeds its target at first, then both).
    host.track[0] = 64;
    host.track[1] = 32;
    Update();
    const FrameOutcome before = RunFrame(host.filter.func_proc, 64, 48, 64, 11, -2000, 2000);
    WndProc(kSizeRequest, 0, 0x00200020);  // X = 32, Y = 32
    const FrameOutcome after = RunFrame(host.filter.func_proc, 64, 48, 64, 11, -2000, 2000);
    host.track[0] = 64;
    Update();
    const FrameOutcome again = RunFrame(host.filter.func_proc, 64, 48, 64, 11, -2000, 2000);
    std::printf("out size-request-invalidates before=%s after=%s\n", before.resultInEdit ? "edit" : "temp",
                after.resultInEdit ? "edit" : "temp");
    Check(!before.resultInEdit && after.resultInEdit && after.digest != before.digest && again.digest == before.digest &&
              before.sentinelsIntact && after.sentinelsIntact && again.sentinelsIntact,
          "after a size request the next frame is filtered with the new X and Y" +
              (after.where.empty() ? std::string() : ": " + after.where));
    host.track[0] = 320;
    host.track[1] = 240;
    Update();
}

void KeyForwarding() {
    struct Key {
        UINT message;
        WPARAM wparam;
        std::uint32_t lparam;
    };
    const Key keys[] = {{kMsgKeyDown, 0x41, 0x001E0001u}, {kMsgKeyUp, 0x41, 0xC01E0001u},
                        {kMsgMouseWheel, 0xFF880000u, 0x00640032u}};
    const int track0 = host.track[0], track1 = host.track[1], track2 = host.track[2];
    const std::string boxes = CheckArray();
    for (const Key& k : keys) {
        host.windows.Clear();
        const int updates = host.windowUpdates;
        const BOOL result = WndProc(k.message, k.wparam, static_cast<LPARAM>(static_cast<std::int32_t>(k.lparam)));
        std::printf("out key message=0x%04x result=%d\n", k.message, result);
        Check(result == FALSE && host.windowUpdates == updates && host.track[0] == track0 &&
                  host.track[1] == track1 && host.track[2] == track2 && CheckArray() == boxes,
              Printf("message 0x%04x returns FALSE and leaves the settings alone", k.message));
        if (host.windows.Available()) {
            const int count = host.windows.ReceivedCount();
            const lowpass::standin::ReceivedMessage got = count > 0 ? host.windows.Received(0) : lowpass::standin::ReceivedMessage{};
            Check(count == 1 && got.message == k.message && got.wparam == k.wparam &&
                      static_cast<std::uint32_t>(got.lparam) == k.lparam,
                  Printf("message 0x%04x reached the owner window %d time(s) (wparam 0x%x, lparam 0x%x)", k.message,
                         count, static_cast<unsigned>(got.wparam), static_cast<unsigned>(got.lparam)));
        }
    }
    host.windows.Clear();
    const BOOL other = WndProc(0x0200, 0, 0x00100010);  // mouse move: not forwarded
    std::printf("out key message=0x0200 result=%d\n", other);
    if (host.windows.Available())
        Check(other == FALSE && host.windows.ReceivedCount() == 0, "any other message is not forwarded");
    else
        Check(other == FALSE, "any other message returns FALSE");
}

// --- frame cases --------------------------------------------------------------

struct Size {
    int w, h, maxW;
    int x, y;       // target size
    bool request;   // set by the size message (below the sliders' minimum)
};

const char* const kWindowNames[] = {"", "rectangular", "hanning", "hamming", "blackman"};

void FrameCases(int dumpCase) {
    const Size sizes[] = {
        {64, 48, 64, 32, 32, false},   {97, 61, 100, 40, 60, false}, {853, 36, 856, 320, 240, false},
        {33, 100, 37, 32, 50, false},  {200, 150, 200, 200, 100, false}, {5, 9, 8, 2, 3, true},
        {1, 40, 1, 0, 10, true},       {40, 1, 43, 10, 0, true},     {1, 1, 1, 0, 0, true},
        {31, 31, 32, 30, 30, true},    {30, 30, 30, 29, 29, true},   {2, 2, 3, 1, 1, true},
    };
    const int taps[] = {1, 3, 7, 15};
    const int blockSize = 4 * static_cast<int>(sizeof sizes / sizeof sizes[0]) * 4;  // cases per SIMD setting
    int index = 0;
    int frames = 0;
    int bad = 0;
    std::string firstBad;
    int fallbackCompared = 0;
    int fallbackDiffering = 0;
    std::map<std::string, std::string> scalarDigest;  // size/window/N -> SIMD-off digest
    for (int simd : {0, 1}) {
        for (int window = 1; window <= 4; ++window) {
            for (const Size& s : sizes) {
                for (int n : taps) {
                    ++index;
                    host.track[0] = s.request ? 320 : s.x;
                    host.track[1] = s.request ? 240 : s.y;
                    host.track[2] = n;
                    for (int i = 1; i <= 4; ++i) host.check[i] = i == window;
                    host.check[0] = simd;
                    Update();
                    if (s.request)
                        WndProc(kSizeRequest, 1,
                                static_cast<LPARAM>(static_cast<std::int32_t>(
                                    (static_cast<std::uint32_t>(s.y) << 16) | static_cast<std::uint32_t>(s.x))));
                    const std::string engine = EngineOf(host.filter.func_proc);
                    // The same input for SIMD on and off. Odd cases use the
                    // whole 16-bit range (wrapping and saturation), even ones
                    // the picture's nominal range.
                    const int inBlock = simd == 0 ? index : index - blockSize;
                    const bool extreme = inBlock % 2 == 1;
                    const int lo = extreme ? -32768 : -2048;
                    const int hi = extreme ? 32767 : 4096;
                    const auto seed = lowpass::standin::SeedFor(static_cast<std::uint32_t>(inBlock * 7919));
                    const FrameOutcome first = RunFrame(host.filter.func_proc, s.w, s.h, s.maxW, seed, lo, hi,
                                                        index == dumpCase);
                    // The same frame again: the cached tables must give the same result.
                    const FrameOutcome second = RunFrame(host.filter.func_proc, s.w, s.h, s.maxW, seed, lo, hi);
                    frames += 2;
                    std::printf("out frame case=%d simd=%d window=%s N=%d X=%d Y=%d w=%d h=%d max_w=%d engine=%s "
                                "result=%s sha256=%s\n",
                                index, simd, kWindowNames[window], n, host.track[0], host.track[1], s.w, s.h, s.maxW,
                                engine.c_str(), first.resultInEdit ? "edit" : "temp", first.digest.c_str());
                    std::string problem;
                    if (first.result != TRUE || second.result != TRUE) problem = "func_proc returned FALSE";
                    else if (!first.sentinelsIntact) problem = first.where;
                    else if (!second.sentinelsIntact) problem = second.where;
                    else if (!first.sourceIntact) problem = first.where;
                    else if (first.digest != second.digest) problem = "a second identical frame came out different";
                    if (!problem.empty() && bad++ == 0) firstBad = Printf("case %d: %s", index, problem.c_str());

                    // Where every pass that runs is shorter than the vector
                    // kernel, the vector drivers run the portable passes: the
                    // result must be the portable engine's.
                    const bool horizontalVector = s.w > host.track[0] && s.w >= 2 * n + 1;
                    const bool verticalVector = s.h > host.track[1] && s.h >= 2 * n + 1;
                    const std::string key = Printf("%d/%d/%d/%d/%d", s.w, s.h, s.maxW, window, n);
                    if (simd == 0) {
                        scalarDigest[key] = first.digest;
                    } else if (!horizontalVector && !verticalVector) {
                        ++fallbackCompared;
                        if (first.digest != scalarDigest[key]) {
                            ++fallbackDiffering;
                            if (bad++ == 0)
                                firstBad = Printf("case %d: the vector driver's fallback differs from the portable engine",
                                                  index);
                        }
                    }
                }
            }
        }
    }
    Check(bad == 0, Printf("%d frames in %d cases: TRUE returned, slack sentinels intact, source unchanged, "
                           "repeatable%s%s",
                           frames, index, bad ? "; first problem: " : "", firstBad.c_str()));
    Check(fallbackCompared > 0 && fallbackDiffering == 0,
          Printf("%d cases below the vector kernel size give the portable engine's result (%d differ)",
                 fallbackCompared, fallbackDiffering));
}

// --- timing -------------------------------------------------------------------

// The engine the plug-in's SIMD box picks on this processor and system:
// the registry's choice, with the plug-in's own probe.
const char* ChosenEngine() { return lowpass::ChooseEngine(lowpass::kFrontEndAuf, true, lowpass::ProbeFeatures()).name; }

bool ParseSize(const char* text, int* w, int* h) {
    char tail = 0;
    return std::sscanf(text, "%dx%d%c", w, h, &tail) == 2 && *w >= 1 && *h >= 1 && *w <= 16384 && *h <= 16384;
}

struct Timing {
    int w = 0, h = 0;
    int taps = 3;
    int frames = 50;
};

void TimeFrames(const Timing& t) {
    host.track[0] = (44 * t.w + 50) / 100;
    host.track[1] = (44 * t.h + 50) / 100;
    host.track[2] = t.taps;
    const int boxes[5] = {1, 0, 0, 0, 1};  // SIMD on, Blackman
    std::copy(std::begin(boxes), std::end(boxes), host.check);
    Update();
    const FilterProcFunc proc = host.filter.func_proc;

    const int maxW = t.w + 16;
    FramePair frames(t.w, t.h, maxW, t.h + 1);
    lowpass::standin::Lcg rng(static_cast<std::uint32_t>(t.w * 31 + t.h * 7 + t.taps));
    for (int y = 0; y < t.h; ++y)
        for (int x = 0; x < t.w; ++x) {
            PIXEL_YC& p = frames.edit.at(x, y);
            p.y = static_cast<std::int16_t>(rng.Range(0, 4096));
            p.cb = static_cast<std::int16_t>(rng.Range(-2048, 2048));
            p.cr = static_cast<std::int16_t>(rng.Range(-2048, 2048));
        }
    std::printf("time settings w=%d h=%d max_w=%d X=%d Y=%d N=%d window=blackman simd=1 threads=%d frames=%d\n", t.w,
                t.h, maxW, host.track[0], host.track[1], host.track[2], host.pool ? host.pool->threads() : 0,
                t.frames);

    // Untimed: builds the tables for this size. Each frame then filters the
    // previous result in place (both passes run, so the buffers come back
    // to where they were), as the benchmark's frame driver does.
    bool ok = Proc(proc, &frames.info) == TRUE;
    std::vector<double> ms;
    for (int k = 0; k < t.frames; ++k) {
        const auto start = std::chrono::steady_clock::now();
        const BOOL result = CallProc(proc, &host.filter, &frames.info);
        const auto end = std::chrono::steady_clock::now();
        AfterCallback("func_proc");
        ok = ok && result == TRUE;
        ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::string where;
    const bool intact = frames.edit.SentinelsIntact(&where) && frames.temp.SentinelsIntact(&where);
    Check(ok && frames.ResultIsOriginalEdit() && intact,
          Printf("%d timed frames: TRUE, both passes ran, slack sentinels intact%s%s", t.frames,
                 intact ? "" : ": ", where.c_str()));

    if (host.pool)
        Check(host.workerStateChanges == 0,
              Printf("%d worker bodies handed back with their own MXCSR and x87 control word, no MMX state%s%s",
                     host.workerBodies.load(), host.workerStateChanges ? ": " : "", host.firstWorkerChange.c_str()));

    std::sort(ms.begin(), ms.end());
    const std::size_t n = ms.size();
    const double median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    std::printf("time median=%.3f ms min=%.3f max=%.3f\n", median, ms.front(), ms.back());
    const std::string engine = EngineOf(proc);
    if (engine == lowpass::ArithmeticName(lowpass::Arithmetic::Sse))
        std::printf("time engine=sse implementation=%s (the registry's choice for this processor and system)\n",
                    ChosenEngine());
    else
        std::printf("time engine=%s\n", engine.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::uint16_t controlWord = 0x027F;  // the editor's: 53-bit precision, round to nearest
    int dumpCase = -1;
    int threads = lowpass::threads::ProcessorCount();
    const char* module = nullptr;
    bool timing = false;
    bool usage = false;
    Timing timed;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--x87") == 0 && i + 1 < argc)
            controlWord = static_cast<std::uint16_t>(std::strtoul(argv[++i], nullptr, 16));
        else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc)
            threads = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--dump") == 0 && i + 1 < argc)
            dumpCase = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--time") == 0 && i + 1 < argc) {
            timing = true;
            if (!ParseSize(argv[++i], &timed.w, &timed.h)) usage = true;
        } else if (std::strcmp(argv[i], "--taps") == 0 && i + 1 < argc)
            timed.taps = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc)
            timed.frames = std::atoi(argv[++i]);
        else if (argv[i][0] == '-')
            usage = true;
        else
            module = argv[i];
    }
#if defined(LOWPASS_HOST_MMX_ONLY)
    module = "(linked in)";
#endif
    if (timing && (timed.taps < 1 || timed.taps > 15 || timed.frames < 1)) usage = true;
    if (module == nullptr || usage) {
        std::fprintf(stderr,
                     "usage: %s MODULE [--x87 HEX] [--threads N] [--dump CASE]\n"
                     "       %s MODULE --time WxH [--taps 1..15] [--frames K] [--threads N] [--x87 HEX]\n",
                     argv[0], argv[0]);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 1 << 16);

    if (lowpass::standin::HasX87ControlWord()) {
        lowpass::standin::SetX87ControlWord(controlWord);
        std::printf("info x87 control word 0x%04x\n", lowpass::standin::ReadX87ControlWord());
    }
    host.controlWord = lowpass::standin::ReadX87ControlWord();
    host.mxcsr = lowpass::standin::ReadMxcsr();
    std::printf("info MXCSR 0x%08x\n", static_cast<unsigned>(host.mxcsr));
    if (threads >= 1) host.pool = std::make_unique<lowpass::threads::ThreadPool>(threads);
    std::printf("info exec_multi_thread_func: %s\n",
                host.pool ? Printf("%d threads", host.pool->threads()).c_str() : "none (null entry)");

    std::string detail;
    const bool misaligned = lowpass::standin::StackMisalignmentWorks(&detail);
    Check(misaligned, "calls into the plug-in: " + detail);

    if (timing) {
        if (LoadAndDescribe(module)) TimeFrames(timed);
        std::printf("host: %d checks passed, %d failed\n", checksPassed, checksFailed);
        return checksFailed == 0 ? 0 : 1;
    }

    std::string error;
    if (host.windows.Create(&error)) {
        Check(host.windows.OwnerOfSettings() == host.windows.Main(),
              "the settings window is owned by the main window (GetWindow GW_OWNER)");
    } else {
        std::printf("info no owner window: %s; key forwarding is checked on Windows\n", error.c_str());
    }

    if (LoadAndDescribe(module)) {
        FirstFrameAndUpdate();
        SettingChanges();
        SizeRequests();
        KeyForwarding();
        FrameCases(dumpCase);
        Check(host.unexpectedServices == 0 && host.servicesWithForeignFilter == 0,
              Printf("services: only filter_window_update and is_filter_active called, with the editor's FILTER "
                     "(%d unexpected, %d with another record)",
                     host.unexpectedServices, host.servicesWithForeignFilter));
        if (host.pool) {
            Check(host.execCalls > 0 && host.workerBodies >= host.execCalls && host.workerStateChanges == 0,
                  Printf("exec_multi_thread_func called %d times, %d worker bodies on %d threads; each worker "
                         "handed back with its own MXCSR and x87 control word and no MMX state%s%s",
                         host.execCalls, host.workerBodies.load(), host.pool->threads(),
                         host.workerStateChanges ? ": " : "", host.firstWorkerChange.c_str()));
        }
        Check(host.stateChanges == 0,
              Printf("%d callbacks left the x87 control word and MXCSR's control bits as they were%s%s", host.callbacks,
                     host.stateChanges ? ": " : "", host.firstStateChange.c_str()));
    }
    std::printf("host: %d checks passed, %d failed\n", checksPassed, checksFailed);
    return checksFailed == 0 ? 0 : 1;
}
