// The correction's per-column tables, kept with the results they are made
// from: each correction rule's tables are filled on its first use and then
// only read, so a frame costs the lookup alone. They are a cache, not a
// result: a copy of an instance starts without them, and whatever replaces a
// result they derive from drops them.
//
// Memory: one table of 256 bytes per column and rule, 1.87 MB for a 7,296-
// column image; at most kTableRules of them (17 MB) when a host corrects in
// every mode of both generations.
#ifndef VYR_FFC_PREPARED_TABLES_H
#define VYR_FFC_PREPARED_TABLES_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace ffc {

// The rules a correction may tabulate: modes 0, 1 and 4 (one rule in both
// generations) and each generation's modes 5, 6 and default.
constexpr int kTableRules = 9;

class PreparedTables {
public:
    PreparedTables() = default;
    // A copy or an assigned-to object holds no tables: they belong to the
    // results they were filled from.
    PreparedTables(const PreparedTables& /*other*/) noexcept {}
    PreparedTables& operator=(const PreparedTables& other) noexcept;
    ~PreparedTables() = default;

    // The `bytes` bytes of rule `rule`, 64-byte aligned, filled by fill(tables)
    // on the first request. Requests from several threads at once are safe:
    // the first fills, the others wait for it. A fill that throws leaves the
    // rule empty and the exception to the caller.
    const uint8_t* Get(int rule, size_t bytes, const std::function<void(uint8_t*)>& fill) const;

    // Drops every rule's tables; must not overlap a Get.
    void Drop() noexcept;

    // The bytes the kept tables hold.
    size_t Bytes() const;

private:
    struct Rule {
        std::atomic<const uint8_t*> tables{nullptr};
        std::unique_ptr<uint8_t[]> storage;
        size_t bytes = 0;
    };
    mutable std::mutex fillLock_;
    mutable Rule rules_[kTableRules];
};

}  // namespace ffc

#endif  // VYR_FFC_PREPARED_TABLES_H
