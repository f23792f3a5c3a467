// The records must keep the host's layout; on a 32-bit build the header
// asserts every offset, here the sizes that hold on every build are checked
// at run time too, so a native test run reports them.
#include <gtest/gtest.h>

#include <cstddef>

#include "host/host_api.h"

TEST(HostRecords, PixelIsThreePackedSamples) {
    EXPECT_EQ(sizeof(PIXEL_YC), 6u);
    EXPECT_EQ(offsetof(PIXEL_YC, cb), 2u);
    EXPECT_EQ(offsetof(PIXEL_YC, cr), 4u);
}

TEST(HostRecords, ServiceTableSlotsByIndex) {
    EXPECT_EQ(offsetof(EXFUNC, filter_window_update) / sizeof(void*), 21u);
    EXPECT_EQ(offsetof(EXFUNC, is_filter_active) / sizeof(void*), 25u);
    EXPECT_EQ(offsetof(EXFUNC, exec_multi_thread_func) / sizeof(void*), 51u);
}

TEST(HostRecords, FilterRecordLayoutMatchesPointerWidth) {
    // 32 fields of int or pointer width: 33 slots of 4 bytes on the host;
    // a 64-bit build pads ints next to pointers.
    if (sizeof(void*) == 4) {
        EXPECT_EQ(sizeof(FILTER), 140u);
        EXPECT_EQ(sizeof(FILTER_PROC_INFO), 104u);
        EXPECT_EQ(offsetof(FILTER, func_proc), 48u);
        EXPECT_EQ(offsetof(FILTER, track), 68u);
        EXPECT_EQ(offsetof(FILTER, check), 72u);
        EXPECT_EQ(offsetof(FILTER, information), 84u);
        EXPECT_EQ(offsetof(FILTER, exfunc), 96u);
    } else {
        EXPECT_EQ(offsetof(FILTER_PROC_INFO, ycp_edit), 8u);
        EXPECT_EQ(offsetof(FILTER_PROC_INFO, w), 24u);
        EXPECT_EQ(offsetof(FILTER, name), 16u);
        EXPECT_LT(offsetof(FILTER, func_proc), offsetof(FILTER, track));
    }
    // Field order is the host's on every build.
    EXPECT_LT(offsetof(FILTER, track), offsetof(FILTER, check));
    EXPECT_LT(offsetof(FILTER, information), offsetof(FILTER, exfunc));
    EXPECT_LT(offsetof(FILTER, dll_path), offsetof(FILTER, reserve));
}
