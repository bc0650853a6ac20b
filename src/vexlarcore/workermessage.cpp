#include "vexlarcore/workermessage.h"

#include "vexlarcore/transfer.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace vexlar {

namespace {

using countersWire_t = std::uint32_t[5];

bool writeAll(int fd, const void* data, std::size_t bytes) {
    return bytes == 0 || writePipe(fd, const_cast<void*>(data), static_cast<int>(bytes)) == 0;
}

enum class readEnd_t { complete, failed, timedOut };

// Reads exactly `bytes`; with timeoutMs >= 0 waits at most that long for
// each next piece of them.
readEnd_t readAll(int fd, void* data, std::size_t bytes, int timeoutMs) {
    if (timeoutMs < 0)
        return bytes == 0 || readPipe(fd, data, static_cast<int>(bytes)) == 0 ? readEnd_t::complete
                                                                              : readEnd_t::failed;
    char* p = static_cast<char*>(data);
    while (bytes > 0) {
        pollfd waitFor{fd, POLLIN, 0};
        const int ready = poll(&waitFor, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return readEnd_t::failed;
        if (ready == 0) return readEnd_t::timedOut;
        const ssize_t n = read(fd, p, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return readEnd_t::failed;
        p += n;
        bytes -= static_cast<std::size_t>(n);
    }
    return readEnd_t::complete;
}

workerFault_t faultOf(readEnd_t end) {
    return end == readEnd_t::complete ? workerFault_t::none
           : end == readEnd_t::failed ? workerFault_t::cutShort
                                      : workerFault_t::stalled;
}

std::size_t pixelFloats(const workerMessageHeader_t& h) {
    return static_cast<std::size_t>(h.w) * static_cast<std::size_t>(h.h) * workerFloatsPerPixel;
}

} // namespace

blockLedger_t::blockLedger_t(const blockSpliter_t& b, int n, bool shared)
    : blocks(b), workers(n < 1 ? 1 : n), takeOver(shared), done(b.regions.size(), 0) {}

workerFault_t blockLedger_t::check(const workerMessageHeader_t& h, int worker) const {
    if (h.index < 0 || static_cast<std::size_t>(h.index) >= total()) return workerFault_t::unknownBlock;
    const std::size_t i = static_cast<std::size_t>(h.index);
    if (done[i]) return workerFault_t::deliveredTwice;
    if (!takeOver && h.index % workers != worker) return workerFault_t::notWorkersBlock;
    const workerMessageHeader_t want = headerOf(i);
    if (h.x != want.x || h.y != want.y || h.w != want.w || h.h != want.h || h.w <= 0 || h.h <= 0)
        return workerFault_t::wrongRectangle;
    return workerFault_t::none;
}

void blockLedger_t::markDelivered(std::size_t index) {
    if (!done[index]) ++deliveredCount;
    done[index] = 1;
}

workerMessageHeader_t blockLedger_t::headerOf(std::size_t index) const {
    // getArea hands out the last region first.
    const blockSpliter_t::region_t& r = blocks.regions[blocks.regions.size() - 1 - index];
    workerMessageHeader_t h;
    h.index = static_cast<std::int32_t>(index);
    h.x = r.realX;
    h.y = r.realY;
    h.w = r.realW;
    h.h = r.realH;
    return h;
}

bool writeBlockMessage(int fd, const workerMessageHeader_t& h, const std::vector<float>& pixels) {
    if (h.index < 0 || h.w < 0 || h.h < 0 || pixels.size() != pixelFloats(h)) return false;
    return writeAll(fd, &h, sizeof h) && writeAll(fd, pixels.data(), pixels.size() * sizeof(float));
}

bool writeCountersMessage(int fd, const statCounters_t& c) {
    workerMessageHeader_t h;
    h.index = workerCountersIndex;
    const countersWire_t body = {c.rays, c.hitted, c.leafs, c.leafst, c.bcount};
    return writeAll(fd, &h, sizeof h) && writeAll(fd, body, sizeof body);
}

bool writeTextMessage(int fd, messageLevel_t level, messageStream_t stream, std::string_view text) {
    if (level == messageLevel_t::progress) return false;
    workerMessageHeader_t h;
    h.index = workerTextIndex;
    h.x = static_cast<std::int32_t>(level);
    h.y = stream == messageStream_t::standardOutput ? 0 : 1;
    h.w = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), workerTextLimit));
    return writeAll(fd, &h, sizeof h) && writeAll(fd, text.data(), static_cast<std::size_t>(h.w));
}

static workerFault_t readTextMessage(int fd, workerMessage_t& out, int timeoutMs) {
    const workerMessageHeader_t& h = out.header;
    const bool knownLevel = h.x == static_cast<std::int32_t>(messageLevel_t::error) ||
                            h.x == static_cast<std::int32_t>(messageLevel_t::warning) ||
                            h.x == static_cast<std::int32_t>(messageLevel_t::info);
    if (!knownLevel || (h.y != 0 && h.y != 1) || h.w < 0 || h.w > workerTextLimit || h.h != 0)
        return workerFault_t::badText;
    out.level = static_cast<messageLevel_t>(h.x);
    out.stream = h.y == 0 ? messageStream_t::standardOutput : messageStream_t::standardError;
    out.text.resize(static_cast<std::size_t>(h.w));
    return faultOf(readAll(fd, &out.text[0], out.text.size(), timeoutMs));
}

workerFault_t readWorkerMessage(int fd, const blockLedger_t& ledger, int worker, workerMessage_t& out,
                                int timeoutMs) {
    workerMessageHeader_t& h = out.header;
    if (workerFault_t f = faultOf(readAll(fd, &h, sizeof h, timeoutMs)); f != workerFault_t::none) return f;
    if (h.index == workerTextIndex) return readTextMessage(fd, out, timeoutMs);
    if (h.index == workerCountersIndex) {
        if (h.x != 0 || h.y != 0 || h.w != 0 || h.h != 0) return workerFault_t::badCounters;
        countersWire_t body;
        if (workerFault_t f = faultOf(readAll(fd, body, sizeof body, timeoutMs)); f != workerFault_t::none)
            return f;
        out.counters.rays = body[0];
        out.counters.hitted = body[1];
        out.counters.leafs = body[2];
        out.counters.leafst = body[3];
        out.counters.bcount = body[4];
        return workerFault_t::none;
    }
    const workerFault_t fault = ledger.check(h, worker);
    if (fault != workerFault_t::none) return fault;
    out.pixels.resize(pixelFloats(h));
    return faultOf(readAll(fd, out.pixels.data(), out.pixels.size() * sizeof(float), timeoutMs));
}

workerFault_t readWorkerMessage(int fd, const blockLedger_t& ledger, int worker, workerMessage_t& out) {
    return readWorkerMessage(fd, ledger, worker, out, -1);
}

} // namespace vexlar
