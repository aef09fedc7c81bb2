// A run that runs out of memory part way must leave the instance exactly as it
// was: every allocation of a small run is made to fail in turn, and the whole
// instance is compared with what it held before.
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "instance/instance.h"
#include "support/instance_bytes.h"
#include "support/temp_folder.h"

namespace {

// Allocations still allowed before the next one fails; negative: no limit.
std::atomic<long> allocationsLeft{-1};

}  // namespace

// The runs are single-threaded, so the count needs no compare-and-swap.
void* operator new(std::size_t size) {
    const long left = allocationsLeft;
    if (left == 0) throw std::bad_alloc();
    if (left > 0) allocationsLeft = left - 1;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace ffc {
namespace {

constexpr int32_t kWidth = 16;

// Column c of image i reads 8i + c + offset: every image is its own level, and
// thirty of them give each column ten points on both sides of its window.
void WriteFolder(const std::string& folder, int offset) {
    for (int i = 0; i < 30; ++i) {
        cv::Mat image(2, kWidth, CV_8UC1);
        for (int c = 0; c < kWidth; ++c) image.col(c).setTo(std::min(255, 8 * i + c + offset));
        ASSERT_TRUE(cv::imwrite(folder + "img" + std::to_string(100 + i) + ".bmp", image));
    }
}

using RunFunction = bool (*)(FlatFieldCorrectionInstance*, uint32_t, std::vector<std::vector<int32_t>>);

TEST(AllocationFailure, EveryFailingAllocationOfARunLeavesTheInstanceAsItWas) {
    // The instance holds the results of all three runs on other images, so
    // that a half-written result would show.
    testing::TempFolder before, after;
    WriteFolder(before.path(), 0);
    WriteFolder(after.path(), 3);
    const std::vector<std::vector<int32_t>> groups = {{0, 1, 2, 3, 4, 5}, {8, 9, 10, 11}};
    const RunFunction runs[] = {RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew,
                        RunFlatFieldCorrectionTool_lowhigh_map_simple_New, RunFlatFieldCorrectionTool_autosegment};
    FlatFieldCorrectionInstance calibrated;
    ASSERT_TRUE(SetFlatFieldCorrectionParameters(&calibrated, before.path(), {3, 7}, 2, kWidth));
    for (RunFunction run : runs) ASSERT_TRUE(run(&calibrated, 6, groups));
    ASSERT_TRUE(SetFlatFieldCorrectionParameters(&calibrated, after.path(), {3, 7}, 2, kWidth));
    const std::string held = testing::InstanceBytes(calibrated);

    for (RunFunction run : runs) {
        long allowed = 0;
        for (bool threw = true; threw; ++allowed) {
            FlatFieldCorrectionInstance instance = calibrated;
            threw = false;
            allocationsLeft = allowed;
            try {
                EXPECT_TRUE(run(&instance, 6, groups));
            } catch (const std::exception&) {  // std::bad_alloc, or the image library's error
                threw = true;
            }
            allocationsLeft = -1;
            ASSERT_EQ(testing::InstanceBytes(instance) == held, threw) << "allocation " << allowed;
        }
        EXPECT_GT(allowed, 100);
    }
}

}  // namespace
}  // namespace ffc
