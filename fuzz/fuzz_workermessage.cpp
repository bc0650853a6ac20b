// libFuzzer target for the worker messages as the parent of the forked
// driver reads them: the input configures a pass (image and block size,
// workers, whether blocks may be taken over, which worker is read) and the
// rest is what that worker's pipe carries. The parent's loop is replayed:
// text messages pass to the sink; every accepted block must be one of the pass's blocks, not delivered
// before, with the pixel count its rectangle needs.
#include "fuzz_support.h"
#include "vexlarcore/renderarea.h"
#include "vexlarcore/workermessage.h"

#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vexlar;
    if (size < 6) return 0;
    const int width = 1 + data[0] % 64, height = 1 + data[1] % 64, blockSize = 1 + data[2] % 32;
    const int workers = 1 + data[3] % 4;
    const bool takeOver = (data[4] & 1) != 0;
    const int worker = data[5] % workers;
    std::srand(1);
    blockSpliter_t blocks(width, height, blockSize);
    blockLedger_t ledger(blocks, workers, takeOver);
    const int fd = fuzz::pipeHolding(data + 6, size - 6);
    if (fd < 0) return 0;
    workerMessage_t message;
    for (;;) {
        const workerFault_t fault = readWorkerMessage(fd, ledger, worker, message);
        if (fault != workerFault_t::none) break;
        if (message.isCounters()) break; // the worker's last message
        if (message.isText()) continue;  // a message for the parent's sink
        const workerMessageHeader_t& h = message.header;
        if (h.index < 0 || static_cast<std::size_t>(h.index) >= ledger.total()) std::abort();
        if (ledger.delivered(static_cast<std::size_t>(h.index))) std::abort();
        const workerMessageHeader_t want = ledger.headerOf(static_cast<std::size_t>(h.index));
        if (h.x != want.x || h.y != want.y || h.w != want.w || h.h != want.h) std::abort();
        if (h.x < 0 || h.y < 0 || h.x + h.w > width || h.y + h.h > height) std::abort();
        if (message.pixels.size() != static_cast<std::size_t>(h.w) * h.h * workerFloatsPerPixel) std::abort();
        ledger.markDelivered(static_cast<std::size_t>(h.index));
    }
    close(fd);
    return 0;
}
