#include "host/limits.h"

#include <cstdio>

#include <unistd.h>

namespace vexlar {
namespace host {

std::uint64_t imageMemoryEstimate(int width, int height, int filters) {
    const std::uint64_t pixels = static_cast<std::uint64_t>(width > 0 ? width : 0) *
                                 static_cast<std::uint64_t>(height > 0 ? height : 0);
    return pixels *
           (bytesPerPixel + bytesPerPixelPerFilter * static_cast<std::uint64_t>(filters > 0 ? filters : 0));
}

std::uint64_t physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || size <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size);
}

std::string byteText(std::uint64_t bytes) {
    const double b = static_cast<double>(bytes);
    char text[64];
    if (b >= 1024.0 * 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.1f GiB", b / (1024.0 * 1024.0 * 1024.0));
    else if (b >= 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.1f MiB", b / (1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    return text;
}

std::string imageMemoryFault(int width, int height, int filters, std::uint64_t available) {
    const std::uint64_t need = imageMemoryEstimate(width, height, filters);
    if (available == 0 || need <= available) return std::string();
    return "a " + std::to_string(width) + " x " + std::to_string(height) + " image needs about " +
           byteText(need) + " of memory, more than this machine has (" + byteText(available) +
           "); choose a smaller size";
}

} // namespace host
} // namespace vexlar
