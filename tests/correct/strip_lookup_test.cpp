// Every lookup path must give each pixel its column's table entry: on strips
// of any width up to a whole one, with each column's values in a band of its
// own, narrow or wide, on any number of rows (whole tiles and the rows left
// over), with rows whole cache lines apart (written past the cache) or not,
// and in place.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "correct/strip_lookup.h"
#include "support/random_cases.h"

namespace ffc::testing {
namespace {

class StripLookup : public ::testing::TestWithParam<LookupPath> {
protected:
    void SetUp() override {
        if (!LookupPathRuns(GetParam())) GTEST_SKIP() << LookupPathName(GetParam()) << " does not run on this machine";
    }
};

TEST_P(StripLookup, GivesEachPixelItsColumnsEntry) {
    const LookupPath path = GetParam();
    SeededSource random(7);
    alignas(64) static uint8_t tables[kStripColumns * kColumnTableSize];
    for (uint8_t& entry : tables) entry = random.Byte();
    for (int trial = 0; trial < 60; ++trial) {
        const int columns = random.Chance(2) ? kStripColumns : random.InRange(1, kStripColumns);
        const int rows = random.InRange(0, 200);
        const size_t step = random.Chance(2) ? 128 : random.InRange(kStripColumns, 200);
        const bool inPlace = random.Chance(4);
        std::vector<uint8_t> in(rows * step + 128), out(in.size());
        const int widest = random.Chance(2) ? 255 : random.InRange(0, 40);
        std::vector<int> low(step), width(step);
        for (size_t i = 0; i < step; ++i) low[i] = random.InRange(0, 255 - (width[i] = random.InRange(0, widest)));
        for (size_t p = 0; p < in.size(); ++p) in[p] = low[p % step] + random.InRange(0, width[p % step]);
        // Both images start on a cache line.
        const size_t in0 = (64 - reinterpret_cast<uintptr_t>(in.data()) % 64) % 64;
        const size_t out0 = (64 - reinterpret_cast<uintptr_t>(out.data()) % 64) % 64;
        std::vector<uint8_t> expected = in;
        uint8_t* target = inPlace ? in.data() + in0 : out.data() + out0;
        LookUpStrip(path, tables, {in.data() + in0, step, target, step, rows, columns});
        for (int r = 0; r < rows; ++r) {
            for (int i = 0; i < columns; ++i) {
                ASSERT_EQ(target[r * step + i], tables[i * kColumnTableSize + expected[in0 + r * step + i]])
                    << "path " << static_cast<int>(path) << " trial " << trial << " row " << r << " column " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EachPath, StripLookup, ::testing::ValuesIn(kLookupPaths),
                         [](const auto& path) { return std::string(LookupPathName(path.param)); });

}  // namespace
}  // namespace ffc::testing
