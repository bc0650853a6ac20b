// The messages a forked render worker sends to its parent, and the parent's
// account of which blocks have arrived.
//
// Both ends are processes of one program on one machine, so integers and
// floats travel in native byte order. Every message starts with a header of
// five 32-bit ints: index, x, y, w, h.
// - A block message (index >= 0) carries the finished block proper of the
//   pass's block `index` (the index-th block getArea would hand out): its
//   position (x, y) and size w x h, then w * h pixels of five floats each (R,
//   G, B, alpha, depth), column by column as renderArea_t::out hands them out.
// - The counters message (index -1, the other four fields 0) carries the
//   worker's statistics counters, five 32-bit unsigned ints (rays, hitted,
//   leafs, leafst, bcount). It is the worker's last message and says that
//   every block it took has been sent.
// - A text message (index -2) carries one message of the worker's library
//   output (see messages.h): x its level (error, warning or info), y its
//   stream (0 standard output, 1 standard error), w the length of the text
//   in bytes (at most workerTextLimit), h 0; then the text. The parent hands
//   it to its own message sink.
//
// The parent checks each header before it reads the body, so a broken
// worker can neither make it read an arbitrary amount nor overwrite a block
// that arrived already; a refused message counts as the worker's death.
#ifndef VEXLARCORE_WORKERMESSAGE_H
#define VEXLARCORE_WORKERMESSAGE_H

#include "vexlarcore/messages.h"
#include "vexlarcore/renderarea.h"
#include "vexlarcore/statcounters.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexlar {

/// The fixed start of every worker message.
struct workerMessageHeader_t {
    std::int32_t index = 0;
    std::int32_t x = 0, y = 0, w = 0, h = 0;
};

/// Header index of the counters message.
constexpr std::int32_t workerCountersIndex = -1;
/// Header index of a text message.
constexpr std::int32_t workerTextIndex = -2;
/// Longest text of a text message, in bytes; a longer text is cut.
constexpr std::int32_t workerTextLimit = 1 << 16;
/// Floats per pixel of a block message: R, G, B, alpha, depth.
constexpr int workerFloatsPerPixel = 5;

/// Why the parent refused a message.
enum class workerFault_t {
    none,            ///< well formed
    cutShort,        ///< the pipe failed or ended inside the message
    unknownBlock,    ///< the index is neither -1 nor a block of the pass
    deliveredTwice,  ///< that block has arrived already
    notWorkersBlock, ///< another worker's block, while workers may not take over blocks
    wrongRectangle,  ///< position or size differ from the block's (or are empty)
    badCounters,     ///< a counters header whose other fields are not 0
    badText,         ///< a text header with an unknown level or stream, or too long a text
    stalled          ///< the rest of the message did not arrive in time
};

/// The parent's account of one pass: which blocks have arrived and which
/// block messages are acceptable from which worker.
class blockLedger_t {
public:
    /// `blocks`: the pass's splitter (not changed; only its regions are
    /// read). `workers`: the number of workers the blocks were dealt to, worker
    /// k owning blocks k, k + workers, ... `takeOver`: whether a worker may
    /// also send blocks it did not own (the workers share a claim board).
    blockLedger_t(const blockSpliter_t& blocks, int workers, bool takeOver);

    /// Whether a block header from `worker` is acceptable now.
    workerFault_t check(const workerMessageHeader_t& h, int worker) const;
    /// Records that block `index` (< total()) has been handed on.
    void markDelivered(std::size_t index);
    bool delivered(std::size_t index) const { return done[index] != 0; }
    std::size_t total() const { return done.size(); }
    /// Blocks not delivered yet.
    std::size_t remaining() const { return total() - deliveredCount; }
    /// Header for block `index` as the worker that rendered it sends it.
    workerMessageHeader_t headerOf(std::size_t index) const;

private:
    const blockSpliter_t& blocks;
    int workers;
    bool takeOver;
    std::vector<char> done;
    std::size_t deliveredCount = 0;
};

/// One message as the parent reads it.
struct workerMessage_t {
    workerMessageHeader_t header;
    /// Block message: w * h * workerFloatsPerPixel floats, column by column.
    std::vector<float> pixels;
    /// Counters message: the worker's counters.
    statCounters_t counters;
    /// Text message: its level, stream and text.
    messageLevel_t level = messageLevel_t::info;
    messageStream_t stream = messageStream_t::standardError;
    std::string text;

    bool isCounters() const { return header.index == workerCountersIndex; }
    bool isText() const { return header.index == workerTextIndex; }
};

/// Writes a block message; `pixels` must hold w * h * workerFloatsPerPixel
/// floats. False when it does not (nothing is written) or the pipe failed.
bool writeBlockMessage(int fd, const workerMessageHeader_t& h, const std::vector<float>& pixels);
/// Writes the counters message; false when the pipe failed.
bool writeCountersMessage(int fd, const statCounters_t& counters);
/// Writes a text message (`level` error, warning or info; the text cut to
/// workerTextLimit bytes). False for a progress level (nothing is written)
/// or when the pipe failed.
bool writeTextMessage(int fd, messageLevel_t level, messageStream_t stream, std::string_view text);

/// Reads one message from `fd`. A block header is checked against `ledger`
/// for `worker` before its body is read; a refused header leaves the body
/// unread. `out` is filled only as far as the message went. Blocks until the
/// whole message has arrived or the pipe ends; with `timeoutMs` >= 0, gives
/// up with workerFault_t::stalled when no byte of it has arrived for that
/// many milliseconds (a worker stopped in the middle of a message).
workerFault_t readWorkerMessage(int fd, const blockLedger_t& ledger, int worker, workerMessage_t& out,
                                int timeoutMs);
/// The same, waiting as long as it takes.
workerFault_t readWorkerMessage(int fd, const blockLedger_t& ledger, int worker, workerMessage_t& out);

} // namespace vexlar

#endif
