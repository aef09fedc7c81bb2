#include "fit/order_statistics.h"

#include <algorithm>
#include <numeric>

namespace ffc {

namespace {

float ElementAtAscendingPosition(std::vector<float>& values, int position) {
    std::nth_element(values.begin(), values.begin() + position, values.end());
    return values[position];
}

}  // namespace

float KthSmallest(std::vector<float> values, int k) {
    const int n = static_cast<int>(values.size());
    if (n == 0 || k < 0 || k >= n) return -1.0f;
    return ElementAtAscendingPosition(values, k);
}

float KthLargest(std::vector<float> values, int k) {
    const int n = static_cast<int>(values.size());
    if (n == 0 || k < 0 || k >= n) return -1.0f;
    return ElementAtAscendingPosition(values, n - 1 - k);
}

std::vector<int> ArgsortDescending(const std::vector<float>& values) {
    std::vector<int> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&values](int a, int b) { return values[a] > values[b]; });
    return order;
}

}  // namespace ffc
