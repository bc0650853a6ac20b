// libFuzzer target for the pipe receivers and mixers: the input picks a
// function, the image size, the form (RAW or Z) and the number of workers;
// the rest is split into what each worker's pipe carries. Whatever arrives,
// nothing is read or written outside the buffers (ASan), and a buffer that
// sits behind the image one is never touched.
#include "fuzz_support.h"
#include "vexlarcore/transfer.h"

#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

// Image buffers a little larger than the transfer, so that a receiver that
// writes past resx * resy would change the tail that the check reads back.
constexpr int slack = 3;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vexlar;
    if (size < 5) return 0;
    const int op = data[0] % 9;
    const int resx = 1 + data[1] % 16, resy = 1 + data[2] % 16;
    const int n = 1 + data[3] % 4;
    useZ = (data[4] & 1) != 0;
    data += 5;
    size -= 5;

    // Worker k's share: a 16-bit length, then that many bytes (the last
    // worker takes the rest).
    pipeList_t pipes;
    for (int k = 0; k < n; ++k) {
        std::size_t len = size;
        if (k + 1 < n && size >= 2) {
            len = (static_cast<std::size_t>(data[0]) | static_cast<std::size_t>(data[1]) << 8);
            data += 2;
            size -= 2;
            if (len > size) len = size;
        }
        const int fd = fuzz::pipeHolding(data, len);
        data += len;
        size -= len;
        pipes.push_back({fd, -1});
    }
    for (const auto& p : pipes)
        if (p.first < 0) {
            for (const auto& q : pipes)
                if (q.first >= 0) close(q.first);
            return 0;
        }

    const int fd = pipes[0].first;
    cBuffer_t colour(resx, resy + slack);
    fBuffer_t floats(resx, resy + slack);
    Buffer_t<char> over(resx, resy + slack);
    std::memset(colour(0, 0), 7, static_cast<std::size_t>(resx) * (resy + slack) * 4);
    for (int y = 0; y < resy + slack; ++y)
        for (int x = 0; x < resx; ++x) floats(x, y) = 7, over(x, y) = 7;
    switch (op) {
    case 0:
        receiveRAWColor(colour, resx, resy, fd);
        break;
    case 1:
        receiveZColor(colour, resx, resy, fd);
        break;
    case 2:
        receiveRAWOversample(over, resx, resy, fd);
        break;
    case 3:
        receiveZOversample(over, resx, resy, fd);
        break;
    case 4:
        mixRAWColor(colour, resx, resy, n, pipes);
        break;
    case 5:
        mixZColor(colour, resx, resy, n, pipes);
        break;
    case 6:
        mixRAWFloat(floats, resx, resy, n, pipes);
        break;
    case 7:
        mixZFloat(floats, resx, resy, n, pipes);
        break;
    default:
        mixColor(colour, resx, resy, n, pipes);
        break;
    }
    for (int y = resy; y < resy + slack; ++y)
        for (int x = 0; x < resx; ++x)
            if (colour(x, y)[0] != 7 || floats(x, y) != 7 || over(x, y) != 7) std::abort();
    for (const auto& p : pipes) close(p.first);
    return 0;
}
