#include "plugin/descriptor.h"

#include "plugin/filter_settings.h"
#include "plugin/frame_proc.h"
#include "plugin/settings_update.h"
#include "plugin/window_messages.h"

namespace lowpass {

namespace {

// Sliders: target width X, target height Y, taps (the kernel half-length).
char* trackNames[kTrackCount] = {trackNameX, trackNameY, trackNameTaps};
int trackDefaults[kTrackCount] = {320, 240, 3};
int trackMinimums[kTrackCount] = {32, 32, 1};
int trackMaximums[kTrackCount] = {856, 576, 15};

// Check boxes: SIMD allowed, then the four windows, Blackman chosen.
char* checkNames[kCheckCount] = {checkNameSimd, checkNameRectangular, checkNameHanning, checkNameHamming,
                                 checkNameBlackman};
int checkDefaults[kCheckCount] = {1, 0, 0, 0, 1};

constexpr FILTER_DLL MakeDescriptor() {
    FILTER_DLL d{};  // every field not set below is zero or null
    d.flag = FILTER_FLAG_EX_INFORMATION;
    d.x = 0;  // the host's default window size
    d.y = 0;
    d.name = filterName;
    d.track_n = kTrackCount;
    d.track_name = trackNames;
    d.track_default = trackDefaults;
    d.track_s = trackMinimums;
    d.track_e = trackMaximums;
    d.check_n = kCheckCount;
    d.check_name = checkNames;
    d.check_default = checkDefaults;
    // The portable engine until the first settings update chooses one.
    d.func_proc = ProcPortable;
    d.func_update = UpdateSettings;
    d.func_WndProc = HandleWindowMessage;
    // The flag above makes the host show this text, so it is never null.
    d.information = filterInformation;
    return d;
}

}  // namespace

// Constant-initialised: ready before any code of the module runs.
constinit FILTER_DLL filterDescriptor = MakeDescriptor();

}  // namespace lowpass
