// The tables an instance keeps: filled once per rule, by one thread when many
// start at once (run under ThreadSanitizer too), dropped by whatever replaces
// the results they come from, and whichever lookup reads them, the bytes of
// the plain rules.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "correct/correction.h"
#include "correct/strip_lookup.h"
#include "support/plain_correction.h"
#include "support/random_cases.h"
#include "support/temp_folder.h"

namespace ffc::testing {
namespace {

const int kModes[] = {0, 1, 4, 5, 6, -1};
const Generation kGenerations[] = {Generation::kCurrent, Generation::kPrevious};

std::string Bytes(const cv::Mat& image) { return std::string(image.datastart, image.dataend); }

// The plain rules' output, or "refused" when they refuse or throw.
std::string Plain(const FlatFieldCorrectionInstance& instance, const cv::Mat& input, int mode, Generation generation) {
    cv::Mat output;
    try {
        if (!PlainCorrectImage(&instance, &input, &output, mode, generation)) return "refused";
    } catch (const std::exception&) {
        return "refused";
    }
    return Bytes(output);
}

std::string Fast(const FlatFieldCorrectionInstance& instance, const cv::Mat& input, int mode, Generation generation,
                 LookupPath path = ChosenLookupPath()) {
    cv::Mat output;
    try {
        if (Correct(instance, input, output, mode, generation, path) != CorrectionStatus::kCorrected) return "refused";
    } catch (const std::exception&) {
        return "refused";
    }
    return Bytes(output);
}

// One table of 256 bytes per column for each rule corrected with; a copy,
// an assignment, new parameters and the start of a run each leave the tables
// of the old results behind, and the correction follows the new ones.
TEST(KeptTables, FollowTheResultsTheyAreFilledFrom) {
    SeededSource random(5);
    TempFolder folder;
    for (int trial = 0; trial < 20; ++trial) {
        const int width = random.InRange(1, 200);
        FlatFieldCorrectionInstance instance = RandomInstance(random, width, true);
        const cv::Mat input = RandomImage(random, random.InRange(1, 100), width);
        size_t rules = 0;
        for (int mode : kModes) {
            for (Generation generation : kGenerations) {
                ASSERT_EQ(Fast(instance, input, mode, generation), Plain(instance, input, mode, generation));
                ASSERT_EQ(Fast(instance, input, mode, generation), Plain(instance, input, mode, generation));
            }
            rules += mode == 0 || mode == 1 || mode == 4 ? 1 : 2;
        }
        EXPECT_EQ(instance.preparedTables.Bytes(), rules * 256 * width) << "trial " << trial;

        const FlatFieldCorrectionInstance copy = instance;
        EXPECT_EQ(copy.preparedTables.Bytes(), 0u);
        const int mode = kModes[random.InRange(0, 5)];
        switch (trial % 3) {
            case 0:
                instance = RandomInstance(random, width, true);
                break;
            case 1:
                ASSERT_TRUE(SetFlatFieldCorrectionParameters(&instance, folder.path(), {0}, 1, width));
                break;
            default:
                RunInputsAreValid(instance, {});
                // As a run then writes its results.
                for (auto& column : instance.quadCoeffs) column.assign(column.size(), random.Byte() / 3.0f);
                for (auto& lut : instance.columnLuts) lut.assign(lut.size(), random.Byte());
                break;
        }
        EXPECT_EQ(instance.preparedTables.Bytes(), 0u) << "trial " << trial;
        for (Generation generation : kGenerations) {
            ASSERT_EQ(Fast(instance, input, mode, generation), Plain(instance, input, mode, generation))
                << "trial " << trial << " mode " << mode;
        }
    }
}

// Threads that correct with one instance in the same mode at once, before any
// tables exist, all get the plain result; the tables are filled once.
TEST(KeptTables, ConcurrentFirstUseGivesEveryThreadThePlainResult) {
    SeededSource random(8);
    constexpr int kThreads = 6;
    for (int trial = 0; trial < 4; ++trial) {
        const int width = random.InRange(64, 300);
        const FlatFieldCorrectionInstance instance = RandomInstance(random, width, true);
        const cv::Mat input = RandomImage(random, random.InRange(16, 130), width);
        for (Generation generation : kGenerations) {
            for (int mode : kModes) {
                std::vector<std::string> outputs(kThreads);
                std::atomic<int> ready{0};
                std::vector<std::thread> threads;
                for (int t = 0; t < kThreads; ++t) {
                    threads.emplace_back([&, t] {
                        ++ready;
                        while (ready.load() < kThreads) std::this_thread::yield();
                        outputs[t] = Fast(instance, input, mode, generation);
                    });
                }
                for (std::thread& thread : threads) thread.join();
                const std::string expected = Plain(instance, input, mode, generation);
                for (int t = 0; t < kThreads; ++t) ASSERT_EQ(outputs[t], expected) << "mode " << mode << " thread " << t;
            }
        }
        EXPECT_EQ(instance.preparedTables.Bytes(), 9u * 256 * width);
    }
}

// The path timing picks cannot change a byte: each path that runs here gives
// the correction of every other, short images and tall, in every mode.
TEST(LookupChoice, EveryPathGivesTheSameCorrection) {
    EXPECT_TRUE(LookupPathRuns(ChosenLookupPath()));
    SeededSource random(21);
    for (int trial = 0; trial < 30; ++trial) {
        const int width = random.Chance(3) ? random.InRange(100, 300) : random.InRange(1, 70);
        const FlatFieldCorrectionInstance instance = RandomInstance(random, width, !random.Chance(4));
        const cv::Mat input = RandomImage(random, random.Chance(2) ? random.InRange(1, 20) : random.InRange(64, 200),
                                          width);
        for (Generation generation : kGenerations) {
            for (int mode : kModes) {
                const std::string expected = Fast(instance, input, mode, generation, LookupPath::kPlain);
                for (LookupPath path : kLookupPaths) {
                    if (!LookupPathRuns(path)) continue;
                    ASSERT_EQ(Fast(instance, input, mode, generation, path), expected)
                        << LookupPathName(path) << " trial " << trial << " mode " << mode;
                }
            }
        }
    }
}

}  // namespace
}  // namespace ffc::testing
