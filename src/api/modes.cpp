// The correction modes by number and name, what each does under either
// rule, and the mode used when none is named: one table that the tool and the
// Python module read too.
#include <algorithm>

#include "VyrCISFlatfieldCorrection.hpp"

namespace vyrffc {

namespace {

struct ModeEntry {
    int number;
    const char* name;
    const char* current;   // what it does under the current rule
    const char* previous;  // ... and under the previous rule
};

const ModeEntry kModes[] = {
    {0, "quadratic", "the quadratic per column, rounded to gray", "the quadratic per column, rounded to gray"},
    {1, "cubic", "the cubic per column, rounded to gray", "the cubic per column, rounded to gray"},
    {4, "table", "the mapping table per column; fails on a raw 255 (no hole candidates)",
     "the mapping table per column; fails on a raw 255 (no hole candidates)"},
    // Mode 5 is the one whose value rule differs between the rules; its
    // current line says so, since help texts show that line.
    {5, "dark-backward",
     "quadratic times gain (previous rule: mapping table times the range gain); dark pixels filled backward "
     "from a line's first regular pixel",
     "mapping table times the range gain; dark pixels filled backward from a line's first regular pixel"},
    {6, "quadratic-dark-forward", "quadratic times gain; dark pixels filled forward along the line",
     "quadratic times the range gain; dark pixels filled forward along the line"},
    {7, "cubic-dark-forward", "cubic times gain; dark pixels filled forward (also named \"default\")",
     "cubic times the range gain; dark pixels filled forward (also named \"default\")"},
};

const ModeEntry* Find(int mode) {
    for (const ModeEntry& entry : kModes) {
        if (entry.number == mode) return &entry;
    }
    return nullptr;
}

}  // namespace

std::vector<int> AllModes() {
    std::vector<int> modes;
    for (const ModeEntry& entry : kModes) modes.push_back(entry.number);
    return modes;
}

const char* ModeName(int mode) {
    const ModeEntry* entry = Find(mode);
    return entry ? entry->name : nullptr;
}

std::optional<int> ModeNamed(std::string_view name) {
    // The twelve functions' fallback row was called "default" before it had
    // a name; scripts that ask for it by that word keep getting it.
    if (name == "default") return kDefaultMode;
    for (const ModeEntry& entry : kModes) {
        if (name == entry.name || name == std::to_string(entry.number)) return entry.number;
    }
    return std::nullopt;
}

const char* ModeDescription(int mode, Generation generation) {
    const ModeEntry* entry = Find(mode);
    if (entry == nullptr) return nullptr;
    return generation == Generation::kPrevious ? entry->previous : entry->current;
}

int DefaultMode(CalibrationRun run, Generation generation) {
    // Chosen on measurements (see the header): the quadratic without dark
    // fill for the current run, whose dark ranges are levels of the raw scale
    // while its output is stretched; the quadratic with forward dark fill for
    // the previous run under its own rule; the cubic for the segmented run,
    // which serves only the two polynomials.
    if (run == CalibrationRun::kSegmented) return 1;
    if (run == CalibrationRun::kPrevious && generation == Generation::kPrevious) return 6;
    return 0;
}

}  // namespace vyrffc
