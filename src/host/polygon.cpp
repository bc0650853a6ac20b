#include "host/polygon.h"

namespace vexlar {
namespace host {

void splitPolygon(std::size_t n, std::vector<std::array<std::size_t, 3>>& out) {
    if (n < 3) return;
    if (n <= maxFanCorners) {
        for (std::size_t k = 1; k + 1 < n; ++k) out.push_back({0, k, k + 1});
        return;
    }
    // Ranges lo..hi of consecutive corners, closed by the edge hi -> lo.
    std::vector<std::array<std::size_t, 2>> todo{{0, n - 1}};
    while (!todo.empty()) {
        const std::size_t lo = todo.back()[0], hi = todo.back()[1];
        todo.pop_back();
        const std::size_t mid = lo + (hi - lo) / 2;
        out.push_back({lo, mid, hi});
        if (hi - mid >= 2) todo.push_back({mid, hi});
        if (mid - lo >= 2) todo.push_back({lo, mid});
    }
}

} // namespace host
} // namespace vexlar
