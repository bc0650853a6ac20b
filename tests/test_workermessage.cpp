// The forked driver's worker messages: round trips through a pipe, every
// kind of malformed message the parent must refuse, and a message cut off
// while its writer lives, which is a stall rather than a wait for ever.
#include "vexlarcore/workermessage.h"

#include "vexlarcore/mesh.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

using namespace vexlar;

namespace {

// A pipe whose write end is closed once the bytes are in (unless the writer
// is to stay alive), so that a reader sees the end of the stream after them.
struct pipe_t {
    int fd[2] = {-1, -1};
    pipe_t() { EXPECT_EQ(pipe(fd), 0); }
    ~pipe_t() {
        for (int f : fd)
            if (f >= 0) close(f);
    }
    void put(const std::vector<unsigned char>& bytes, bool writerAlive = false) {
        EXPECT_EQ(write(fd[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        if (writerAlive) return;
        close(fd[1]);
        fd[1] = -1;
    }
};

// 130 x 70 pixels in 64-pixel blocks: six blocks of three different sizes.
const int passW = 130, passH = 70, passBlock = 64;

} // namespace

TEST(workerMessage, BlocksCountersAndTextsRoundTripAndTheWriterRefusesMismatches) {
    blockSpliter_t blocks(passW, passH, passBlock);
    blockLedger_t ledger(blocks, 2, false);
    ASSERT_EQ(ledger.total(), 6u);
    pipe_t pipe;
    workerMessageHeader_t h = ledger.headerOf(3);
    std::vector<float> px(static_cast<std::size_t>(h.w * h.h * workerFloatsPerPixel));
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<float>(i) * 0.25f - 7.0f;
    const statCounters_t c{4294967295u, 2, 3, 4, 5};
    ASSERT_TRUE(writeBlockMessage(pipe.fd[1], h, px));
    // Pixels that do not match the header and progress texts are refused, and
    // nothing of them reaches the pipe.
    EXPECT_FALSE(writeBlockMessage(pipe.fd[1], h, std::vector<float>(px.size() - 1)));
    workerMessageHeader_t sized = h;
    sized.index = workerCountersIndex;
    EXPECT_FALSE(writeBlockMessage(pipe.fd[1], sized, {}));
    EXPECT_FALSE(
        writeTextMessage(pipe.fd[1], messageLevel_t::progress, messageStream_t::standardOutput, "x"));
    ASSERT_TRUE(writeCountersMessage(pipe.fd[1], c));
    ASSERT_TRUE(
        writeTextMessage(pipe.fd[1], messageLevel_t::error, messageStream_t::standardOutput, "a\nb\n"));

    workerMessage_t m;
    ASSERT_EQ(readWorkerMessage(pipe.fd[0], ledger, 1, m), workerFault_t::none);
    EXPECT_FALSE(m.isCounters());
    EXPECT_EQ(std::memcmp(&m.header, &h, sizeof h), 0);
    EXPECT_EQ(m.pixels, px);
    ASSERT_EQ(readWorkerMessage(pipe.fd[0], ledger, 1, m), workerFault_t::none);
    ASSERT_TRUE(m.isCounters());
    const statCounters_t& got = m.counters;
    EXPECT_EQ(std::vector<std::uint32_t>({got.rays, got.hitted, got.leafs, got.leafst, got.bcount}),
              std::vector<std::uint32_t>({4294967295u, 2, 3, 4, 5}));
    workerMessage_t text;
    ASSERT_EQ(readWorkerMessage(pipe.fd[0], ledger, 1, text), workerFault_t::none);
    ASSERT_TRUE(text.isText());
    EXPECT_EQ(text.level, messageLevel_t::error);
    EXPECT_EQ(text.stream, messageStream_t::standardOutput);
    EXPECT_EQ(text.text, "a\nb\n");

    // A parent adds what its worker counted, across the counters' wrap.
    const std::uint32_t before = rays;
    m.counters.addToGlobals();
    EXPECT_EQ(rays, before - 1u);
    EXPECT_EQ(statCounters_t::now().since(m.counters).rays, before);
    rays = before;
}

TEST(workerMessage, MalformedMessagesAreRefused) {
    blockSpliter_t blocks(passW, passH, passBlock);
    const int worker = 1; // of 2, without take-over: owns blocks 1, 3, 5
    struct case_t {
        const char* what;
        workerMessageHeader_t header;
        std::size_t sentBytes; // bytes of the message that reach the pipe
        workerFault_t fault;
        bool writerAlive = false; // the writer keeps its end open, silent
    };
    blockLedger_t probe(blocks, 2, false);
    const workerMessageHeader_t own = probe.headerOf(3);
    const std::size_t body = static_cast<std::size_t>(own.w * own.h * workerFloatsPerPixel) * sizeof(float);
    const std::size_t full = sizeof(workerMessageHeader_t) + body;
    auto with = [&](auto change) {
        workerMessageHeader_t h = own;
        change(h);
        return h;
    };
    const workerMessageHeader_t counters{workerCountersIndex, 0, 0, 0, 0};
    const std::size_t countersBytes = sizeof counters + 5 * sizeof(std::uint32_t);
    // level, stream, length and height of a text message
    auto text = [](int level, int stream, int length, int h = 0) {
        return workerMessageHeader_t{workerTextIndex, level, stream, length, h};
    };
    const std::size_t head = sizeof(workerMessageHeader_t);
    const case_t cases[] = {
        {"well formed", own, full, workerFault_t::none},
        {"nothing at all", own, 0, workerFault_t::cutShort},
        {"half a header", own, 10, workerFault_t::cutShort},
        {"body cut short", own, full - 1, workerFault_t::cutShort},
        {"nothing yet, writer alive", own, 0, workerFault_t::stalled, true},
        {"part of the body, writer alive", own, head + 40, workerFault_t::stalled, true},
        {"well formed, writer alive", own, full, workerFault_t::none, true},
        {"index below -2", with([](auto& h) { h.index = -3; }), full, workerFault_t::unknownBlock},
        {"index past the last block", with([](auto& h) { h.index = 6; }), full, workerFault_t::unknownBlock},
        {"block delivered already", with([&](auto& h) { h = probe.headerOf(5); }), full,
         workerFault_t::deliveredTwice},
        {"another worker's block", with([&](auto& h) { h = probe.headerOf(2); }), full,
         workerFault_t::notWorkersBlock},
        {"x moved", with([](auto& h) { ++h.x; }), full, workerFault_t::wrongRectangle},
        {"y moved", with([](auto& h) { --h.y; }), full, workerFault_t::wrongRectangle},
        {"wider", with([](auto& h) { ++h.w; }), full, workerFault_t::wrongRectangle},
        {"huge", with([](auto& h) { h.w = h.h = 1 << 30; }), full, workerFault_t::wrongRectangle},
        {"negative height", with([](auto& h) { h.h = -h.h; }), full, workerFault_t::wrongRectangle},
        {"counters", counters, countersBytes, workerFault_t::none},
        {"counters cut short", counters, countersBytes - 1, workerFault_t::cutShort},
        {"counters with a size", with([](auto& h) { h.index = workerCountersIndex; }), countersBytes,
         workerFault_t::badCounters},
        {"text of level 3", text(3, 0, 0), head, workerFault_t::badText},
        {"text of level -1", text(-1, 0, 0), head, workerFault_t::badText},
        {"text on stream 2", text(0, 2, 0), head, workerFault_t::badText},
        {"text of negative length", text(0, 0, -1), head, workerFault_t::badText},
        {"text beyond the limit", text(0, 0, workerTextLimit + 1), head, workerFault_t::badText},
        {"text with a height", text(0, 0, 0, 1), head, workerFault_t::badText},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.what);
        blockLedger_t ledger(blocks, 2, false);
        ledger.markDelivered(5);
        pipe_t pipe;
        std::vector<unsigned char> bytes(full, 0x5a); // the header, then a body of 0x5a
        std::memcpy(bytes.data(), &c.header, sizeof c.header);
        bytes.resize(c.sentBytes);
        pipe.put(bytes, c.writerAlive);
        workerMessage_t m;
        EXPECT_EQ(readWorkerMessage(pipe.fd[0], ledger, worker, m, 50), c.fault);
    }
}

TEST(blockLedger, TakeOverAcceptsAnyBlockOnceAndCountsWhatIsLeft) {
    blockSpliter_t blocks(passW, passH, passBlock);
    blockLedger_t ledger(blocks, 2, true);
    const workerMessageHeader_t h = ledger.headerOf(2);
    EXPECT_EQ(ledger.check(h, 1), workerFault_t::none);
    ledger.markDelivered(2);
    ledger.markDelivered(2);
    EXPECT_EQ(ledger.remaining(), 5u);
    EXPECT_EQ(ledger.check(h, 0), workerFault_t::deliveredTwice);
    // Block i is the i-th that getArea hands out.
    std::vector<workerMessageHeader_t> headers;
    for (std::size_t i = 0; i < ledger.total(); ++i) headers.push_back(ledger.headerOf(i));
    renderArea_t area;
    for (const workerMessageHeader_t& b : headers) {
        blocks.getArea(area);
        EXPECT_EQ(std::vector<int>({b.x, b.y, b.w, b.h}),
                  std::vector<int>({area.realX, area.realY, area.realW, area.realH}));
    }
}
