#include "vexlarcore/podarray.h"

#include <algorithm>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace vexlar {

namespace {

// Blocks from this size on are mappings of their own; smaller ones come from
// malloc. A block's kind follows from its size alone, so no header is needed.
const std::size_t mappedFrom = std::size_t(1) << 20;

#if defined(__linux__)
std::size_t pageRound(std::size_t bytes) {
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

bool mapped(std::size_t bytes) {
    return bytes >= mappedFrom;
}

void* mapBlock(std::size_t bytes) {
    void* p = mmap(nullptr, pageRound(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return p;
}
#endif

} // namespace

void* podRealloc(void* p, std::size_t oldBytes, std::size_t newBytes) {
    if (p == nullptr) oldBytes = 0;
#if defined(__linux__)
    const bool wasMapped = oldBytes > 0 && mapped(oldBytes);
    const bool willMap = newBytes > 0 && mapped(newBytes);
    if (wasMapped && willMap) {
        // The kernel moves or extends the pages: no copy, no second buffer.
        void* q = mremap(p, pageRound(oldBytes), pageRound(newBytes), MREMAP_MAYMOVE);
        if (q == MAP_FAILED) throw std::bad_alloc();
        return q;
    }
    if (wasMapped || willMap) {
        void* q = nullptr;
        if (newBytes > 0) {
            q = willMap ? mapBlock(newBytes) : std::malloc(newBytes);
            if (q == nullptr) throw std::bad_alloc();
            if (oldBytes > 0) std::memcpy(q, p, std::min(oldBytes, newBytes));
        }
        if (wasMapped)
            munmap(p, pageRound(oldBytes));
        else
            std::free(p);
        return q;
    }
#endif
    if (newBytes == 0) {
        std::free(p);
        return nullptr;
    }
    void* q = std::realloc(p, newBytes);
    if (q == nullptr) throw std::bad_alloc();
    return q;
}

} // namespace vexlar
