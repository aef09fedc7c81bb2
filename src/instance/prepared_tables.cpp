#include "instance/prepared_tables.h"

#include <utility>

namespace ffc {

namespace {

constexpr size_t kAlignment = 64;

}  // namespace

PreparedTables& PreparedTables::operator=(const PreparedTables& other) noexcept {
    if (this != &other) Drop();
    return *this;
}

const uint8_t* PreparedTables::Get(int rule, size_t bytes, const std::function<void(uint8_t*)>& fill) const {
    Rule& kept = rules_[rule];
    if (const uint8_t* tables = kept.tables.load(std::memory_order_acquire)) return tables;
    // One lock for all rules: a fill happens once per rule and calibration.
    std::lock_guard<std::mutex> lock(fillLock_);
    if (const uint8_t* tables = kept.tables.load(std::memory_order_relaxed)) return tables;
    // The lookup loads whole 64-byte lines of the tables.
    std::unique_ptr<uint8_t[]> storage(new uint8_t[bytes + kAlignment]);
    const uintptr_t address = reinterpret_cast<uintptr_t>(storage.get());
    uint8_t* tables = storage.get() + (kAlignment - address % kAlignment) % kAlignment;
    fill(tables);
    kept.storage = std::move(storage);
    kept.bytes = bytes;
    kept.tables.store(tables, std::memory_order_release);
    return tables;
}

void PreparedTables::Drop() noexcept {
    for (Rule& kept : rules_) {
        kept.tables.store(nullptr, std::memory_order_relaxed);
        kept.storage.reset();
        kept.bytes = 0;
    }
}

size_t PreparedTables::Bytes() const {
    std::lock_guard<std::mutex> lock(fillLock_);
    size_t total = 0;
    for (const Rule& kept : rules_) total += kept.bytes;
    return total;
}

}  // namespace ffc
