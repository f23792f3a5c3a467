// The settings-window messages: key and wheel input passed on to the owner
// window exactly once, the SizeRequest message setting X and Y unclamped,
// and every other message ignored.
#include <gtest/gtest.h>

#include <cstdint>

#include "core/kernel.h"
#include "plugin/filter_export.h"
#include "plugin/platform_window.h"
#include "plugin/plugin_state.h"
#if !defined(_WIN32)
#include "tests/support/window_recorder.h"
#endif
#include <vector>

#include "plugin/window_messages.h"
#include "tests/hosts/standin_host/stand_in_host.h"
#include "tests/support/random_seed.h"

using lowpass::kernelCache;
using lowpass::standin::StandInHost;

namespace {

// The lparam the host delivers: 32 bits, sign-extended where LPARAM is wider.
LPARAM HostLparam(std::uint32_t bits) { return static_cast<LPARAM>(static_cast<std::int32_t>(bits)); }

struct Delivered {
    HWND window;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};

#if defined(_WIN32)
// Real windows: a hidden main window that records what reaches it, and a
// settings window it owns.
std::vector<Delivered> delivered;

LRESULT CALLBACK RecordingWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kMsgKeyDown || message == kMsgKeyUp || message == kMsgMouseWheel)
        delivered.push_back(Delivered{window, message, wparam, lparam});
    return DefWindowProcA(window, message, wparam, lparam);
}

struct TestWindows {
    HWND main = nullptr;
    HWND settings = nullptr;

    TestWindows() {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = RecordingWndProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "lowpass_test_window";
        RegisterClassA(&windowClass);  // fails harmlessly when already registered
        main = CreateWindowExA(0, "lowpass_test_window", "main", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                               nullptr, windowClass.hInstance, nullptr);
        settings = CreateWindowExA(0, "lowpass_test_window", "settings", WS_POPUP, 0, 0, 50, 50, main, nullptr,
                                   windowClass.hInstance, nullptr);
        delivered.clear();
    }
    ~TestWindows() {
        if (settings != nullptr) DestroyWindow(settings);
        if (main != nullptr) DestroyWindow(main);
    }
    void Reset() { delivered.clear(); }
    // GetWindow's calls are not visible on the real system; what reaches
    // the owner is.
    std::vector<Delivered> Received() const { return delivered; }
    bool Untouched() const { return delivered.empty(); }
};
#else
// The stand-in window system: it records the owner question and the sends.
struct TestWindows {
    HWND main = reinterpret_cast<HWND>(std::uintptr_t{0x3a11});
    HWND settings = reinterpret_cast<HWND>(std::uintptr_t{0x5e77});

    TestWindows() { Reset(); }
    ~TestWindows() { lowpass::testing::StopRecordingWindowCalls(); }
    void Reset() { lowpass::testing::RecordWindowCalls(main); }
    std::vector<Delivered> Received() const {
        const auto& record = lowpass::testing::RecordedWindowCalls();
        // Every send must have followed one owner question about the
        // settings window.
        EXPECT_EQ(record.getWindowCount, record.sendCount);
        for (int i = 0; i < record.getWindowCount && i < lowpass::testing::WindowRecorder::kCapacity; ++i) {
            EXPECT_EQ(record.getWindowCalls[i].window, settings);
            EXPECT_EQ(record.getWindowCalls[i].command, 4u);  // GW_OWNER
        }
        std::vector<Delivered> sent;
        for (int i = 0; i < record.sendCount && i < lowpass::testing::WindowRecorder::kCapacity; ++i) {
            const auto& m = record.sentMessages[i];
            sent.push_back(Delivered{m.window, m.message, m.wparam, m.lparam});
        }
        return sent;
    }
    bool Untouched() const {
        const auto& record = lowpass::testing::RecordedWindowCalls();
        return record.getWindowCount == 0 && record.sendCount == 0;
    }
};
#endif

class WindowMessages : public ::testing::Test {
protected:
    void SetUp() override {
        GetFilterTable();
        ASSERT_NE(windows.main, nullptr);
        ASSERT_NE(windows.settings, nullptr);
        windows.Reset();
        host.SetTrack(320, 240, 3);
        kernelCache.valid = 1;
    }

    BOOL Send(UINT message, WPARAM wparam, LPARAM lparam) {
        return host.filter.func_WndProc(windows.settings, message, wparam, lparam, nullptr, &host.filter);
    }

    TestWindows windows;
    StandInHost host{GetFilterTable()};
};

}  // namespace

TEST_F(WindowMessages, HandlerIsTheDescriptorsWndProc) {
    EXPECT_EQ(GetFilterTable()->func_WndProc, &lowpass::HandleWindowMessage);
    EXPECT_EQ(lowpass::kSizeRequest, 0x04C8u);
}

TEST_F(WindowMessages, SizeRequestSplitsLparamAndWparamZeroIsFalseEvenWhenActive) {
    host.active = TRUE;
    EXPECT_EQ(Send(0x04C8, 0, HostLparam(0x01E00280)), FALSE);
    EXPECT_EQ(host.track[0], 640);
    EXPECT_EQ(host.track[1], 480);
    EXPECT_EQ(host.track[2], 3);  // taps untouched
    EXPECT_EQ(host.windowUpdateCalls, 1);
    EXPECT_EQ(host.isActiveCalls, 0);  // wparam 0 answers without asking
    EXPECT_EQ(kernelCache.valid, 0);
    EXPECT_TRUE(windows.Untouched());
}

TEST_F(WindowMessages, SizeRequestWithWparamFollowsIsFilterActive) {
    struct Case {
        WPARAM wparam;
        BOOL active;
        BOOL expected;
    };
    const Case cases[] = {
        {1, TRUE, TRUE}, {1, FALSE, FALSE}, {0x80000000u, 7, TRUE},  // any non-zero answer is "on"
        {2, FALSE, FALSE},
    };
    for (const Case& c : cases) {
        host.SetTrack(320, 240, 3);
        host.windowUpdateCalls = 0;
        host.isActiveCalls = 0;
        host.active = c.active;
        kernelCache.valid = 1;
        EXPECT_EQ(Send(0x04C8, c.wparam, HostLparam(0x00900100)), c.expected) << "active " << c.active;
        // X and Y change and the cache is invalidated whatever the answer.
        EXPECT_EQ(host.track[0], 256);
        EXPECT_EQ(host.track[1], 144);
        EXPECT_EQ(host.windowUpdateCalls, 1);
        EXPECT_EQ(host.isActiveCalls, 1);
        EXPECT_EQ(kernelCache.valid, 0);
    }
}

TEST_F(WindowMessages, SizeRequestStoresValuesUnclampedAndUnsigned) {
    struct Case {
        std::uint32_t lparam;
        int x;
        int y;
    };
    const Case cases[] = {
        {0x00000000u, 0, 0},          // below the sliders' minimum of 32
        {0xFFFF0000u, 0, 65535},      // high bit set: Y is unsigned, not -1
        {0x0000FFFFu, 65535, 0},      // X is unsigned too
        {0xFFFFFFFFu, 65535, 65535},  // above the sliders' maximums
        {0x80010002u, 2, 32769},
        {0x00200358u, 856, 32},
    };
    for (const Case& c : cases) {
        Send(0x04C8, 0, HostLparam(c.lparam));
        EXPECT_EQ(host.track[0], c.x) << std::hex << c.lparam;
        EXPECT_EQ(host.track[1], c.y) << std::hex << c.lparam;
    }
#if UINTPTR_MAX > 0xFFFFFFFFu
    // Bits above the host's 32 are not part of the request.
    Send(0x04C8, 0, static_cast<LPARAM>(0x1234567800640032ull));
    EXPECT_EQ(host.track[0], 50);
    EXPECT_EQ(host.track[1], 100);
#endif
}

TEST_F(WindowMessages, KeyAndWheelAreForwardedOnceToTheOwnerUnchanged) {
    struct Case {
        UINT message;
        WPARAM wparam;
        LPARAM lparam;
    };
    const Case cases[] = {
        {0x0100, 0x41, HostLparam(0x001E0001)},      // key down 'A'
        {0x0101, 0x41, HostLparam(0xC01E0001)},      // key up, lparam with the high bits set
        {0x020A, 0xFF880000u, HostLparam(0x012C00C8)},  // wheel, one notch towards the user
    };
    for (const Case& c : cases) {
        windows.Reset();
        host.windowUpdateCalls = 0;
        kernelCache.valid = 1;
        EXPECT_EQ(Send(c.message, c.wparam, c.lparam), FALSE);

        const std::vector<Delivered> sent = windows.Received();
        ASSERT_EQ(sent.size(), 1u) << std::hex << c.message;
        EXPECT_EQ(sent[0].window, windows.main);
        EXPECT_EQ(sent[0].message, c.message);
        EXPECT_EQ(sent[0].wparam, c.wparam);
        EXPECT_EQ(sent[0].lparam, c.lparam);

        // The filter's own settings never see the key.
        EXPECT_EQ(host.track[0], 320);
        EXPECT_EQ(host.track[1], 240);
        EXPECT_EQ(host.track[2], 3);
        EXPECT_EQ(host.check[0], 1);
        EXPECT_EQ(host.check[4], 1);
        EXPECT_EQ(host.windowUpdateCalls, 0);
        EXPECT_EQ(host.isActiveCalls, 0);
        EXPECT_EQ(kernelCache.valid, 1);
    }
}

TEST_F(WindowMessages, OtherMessagesDoNothing) {
    // Neighbours of the handled numbers included, to catch a range test.
    for (UINT message : {0x0000u, 0x00FFu, 0x0102u, 0x0104u, 0x0200u, 0x0209u, 0x020Bu, 0x0400u, 0x04C7u,
                         0x04C9u, 0x14C8u}) {
        EXPECT_EQ(Send(message, 1, HostLparam(0x01E00280)), FALSE) << std::hex << message;
    }
    EXPECT_EQ(host.track[0], 320);
    EXPECT_EQ(host.track[1], 240);
    EXPECT_EQ(host.windowUpdateCalls, 0);
    EXPECT_EQ(host.isActiveCalls, 0);
    EXPECT_EQ(kernelCache.valid, 1);
    EXPECT_TRUE(windows.Untouched());
}

TEST_F(WindowMessages, SizeRequestMakesTheNextFrameUseTheNewTarget) {
    // 640 x 480 frame, target 640 x 480: nothing to filter, the pointers stay.
    host.filter.func_update(&host.filter, 0);
    Send(0x04C8, 0, HostLparam(0x01E00280));
    lowpass::standin::FramePair frames(640, 480, 640, 480);
    const lowpass::testing::TestSeed seed(9);
    frames.edit.FillRandom(seed, -2048, 4096);
    host.filter.func_proc(&host.filter, &frames.info);
    EXPECT_EQ(frames.info.ycp_edit, frames.originalEdit);
    EXPECT_EQ(frames.info.ycp_temp, frames.originalTemp);
    // The cache was rebuilt for the frame and the new target.
    EXPECT_EQ(kernelCache.valid, 1);
    EXPECT_EQ(kernelCache.width, 640);

    // One pixel narrower target: the horizontal pass runs, only it.
    Send(0x04C8, 0, HostLparam(0x01E0027F));
    EXPECT_EQ(kernelCache.valid, 0);
    host.filter.func_proc(&host.filter, &frames.info);
    EXPECT_EQ(frames.info.ycp_edit, frames.originalTemp);
}
