#include "vexlarcore/buffer.h"

#include <cstdint>
#include <cstdlib>

namespace vexlar {

namespace bufferDetail {

std::size_t elementCount(int w, int h, std::size_t n, std::size_t elemSize, bool& ok) {
    ok = false;
    if (w < 0 || h < 0) return 0;
    // The byte count is limited to PTRDIFF_MAX so that pointer differences
    // over the buffer stay defined; w * h alone cannot overflow 64 bits.
    std::uint64_t count = static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h);
    const std::uint64_t limit = static_cast<std::uint64_t>(PTRDIFF_MAX);
    if (n != 0 && count > limit / n) return 0;
    count *= n;
    if (elemSize != 0 && count > limit / elemSize) return 0;
    ok = true;
    return static_cast<std::size_t>(count);
}

void allocationFailed(messageStream_t stream) {
    emitMessage(messageLevel_t::error, stream, "Error allocating memory in cBuffer\n");
    std::exit(1);
}

} // namespace bufferDetail

fBuffer_t::fBuffer_t(int w, int h)
    : data(bufferDetail::allocate<float>(w, h, 1, messageStream_t::standardOutput)), resx(w), resy(h) {}

fBuffer_t::~fBuffer_t() {
    delete[] data;
}

void fBuffer_t::set(int w, int h) {
    delete[] data;
    data = nullptr;
    data = bufferDetail::allocate<float>(w, h, 1, messageStream_t::standardOutput);
    resx = w;
    resy = h;
}

fBuffer_t& fBuffer_t::operator=(const fBuffer_t& other) {
    bool good = true;
    if (resx != other.resx || resy != other.resy) {
        emitMessage(messageLevel_t::error, messageStream_t::standardOutput,
                    "Error, trying to assign  buffers of a diferent size\n");
        good = false;
    }
    if (data == nullptr || other.data == nullptr) {
        emitMessage(messageLevel_t::error, messageStream_t::standardOutput,
                    "Assigning unallocated buffers\n");
        good = false;
    }
    // A mismatched or unallocated pair copies nothing: copying this buffer's
    // own count from a smaller or missing one would read past its end.
    if (!good || this == &other) return *this;
    std::size_t n = static_cast<std::size_t>(resx) * static_cast<std::size_t>(resy);
    for (std::size_t i = 0; i < n; ++i) data[i] = other.data[i];
    return *this;
}

} // namespace vexlar
