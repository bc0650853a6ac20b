#include "vexlarcore/texturebudget.h"

#include <atomic>
#include <cstdio>

#include <unistd.h>

namespace vexlar {

namespace {

std::atomic<std::uint64_t> budgetSet{0};
std::atomic<std::uint64_t> inUse{0};

std::uint64_t defaultBudget() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || size <= 0) return std::uint64_t(4) << 30;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size) / 2;
}

std::string gib(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0));
    return text;
}

} // namespace

std::uint64_t textureMemoryBudget() {
    const std::uint64_t b = budgetSet.load();
    return b != 0 ? b : defaultBudget();
}

void setTextureMemoryBudget(std::uint64_t bytes) {
    budgetSet.store(bytes);
}

std::uint64_t textureMemoryInUse() {
    return inUse.load();
}

textureReservation_t reserveTextureMemory(std::uint64_t bytes, long long width, long long height,
                                          std::string& error) {
    const std::uint64_t budget = textureMemoryBudget();
    std::uint64_t used = inUse.load();
    do {
        if (bytes > budget || used > budget - bytes) {
            const std::uint64_t left = used < budget ? budget - used : 0;
            error = "the picture is " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels and needs " + gib(bytes) + " of texture memory; " + gib(left) + " of the " +
                    gib(budget) + " budget for textures is left";
            return nullptr;
        }
    } while (!inUse.compare_exchange_weak(used, used + bytes));
    return textureReservation_t(static_cast<const void*>(&inUse),
                                [bytes](const void*) { inUse.fetch_sub(bytes); });
}

} // namespace vexlar
