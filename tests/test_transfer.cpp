// Image rows through pipes, raw and zlib-compressed: row interleaving,
// broadcasts, lying and truncated messages, closed ends and interrupts.
#include "vexlarcore/transfer.h"

#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <thread>
#include <zlib.h>

using namespace vexlar;

namespace {

// A pipe whose ends close with the object; small messages fit its buffer.
struct pipe_t {
    pipe_t() {
        int fds[2];
        if (pipe(fds) != 0) std::abort();
        readFd = fds[0];
        writeFd = fds[1];
    }
    ~pipe_t() { closeRead(), closeWrite(); }
    void closeRead() { readFd = readFd >= 0 ? close(readFd), -1 : -1; }
    void closeWrite() { writeFd = writeFd >= 0 ? close(writeFd), -1 : -1; }
    std::vector<unsigned char> drain() {
        closeWrite();
        std::vector<unsigned char> all;
        unsigned char chunk[4096];
        for (ssize_t n; (n = read(readFd, chunk, sizeof chunk)) > 0;) all.insert(all.end(), chunk, chunk + n);
        return all;
    }
    int readFd, writeFd;
};

// Pixel (x, y) gets bytes (10y + x, 100 + x, 200 + y, alpha).
void fillColor(cBuffer_t& b, unsigned char alpha) {
    for (int y = 0; y < b.resy; ++y)
        for (int x = 0; x < b.resx; ++x) {
            const unsigned char v[4] = {(unsigned char)(10 * y + x), (unsigned char)(100 + x),
                                        (unsigned char)(200 + y), alpha};
            std::memcpy(b(x, y), v, 4);
        }
}

void fillFloat(fBuffer_t& b, float offset) {
    for (int i = 0; i < b.resx * b.resy; ++i) b.data[i] = offset + static_cast<float>(i) * 0.5f;
}

class transfer : public ::testing::Test {
protected:
    void SetUp() override { oldPipe = std::signal(SIGPIPE, SIG_IGN); }
    void TearDown() override {
        useZ = 0;
        std::signal(SIGPIPE, oldPipe);
    }
    void (*oldPipe)(int) = nullptr;
};

volatile sig_atomic_t alarms = 0;

// The scheduler state letter of thread `tid` ('S' while it sleeps), 0 if unknown.
char threadState(pid_t tid) {
    const std::string line = support::slurp("/proc/self/task/" + std::to_string(tid) + "/stat");
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : 0;
}

} // namespace

TEST_F(transfer, RawRowsFollowStepAndStartCompressedSendsTheWholeImage) {
    pipe_t p;
    char in[1] = {};
    EXPECT_TRUE(writePipe(p.writeFd, in, 0) == 0 && writePipe(p.writeFd, in, -5) == -5 &&
                readPipe(p.readFd, in, -3) == -3);
    cBuffer_t b(4, 3);
    fillColor(b, 77);
    EXPECT_TRUE(sendColor(b, p.writeFd, 4, 3, 2, 1)); // rows 1
    EXPECT_TRUE(sendColor(b, p.writeFd, 4, 3, 2, 0)); // rows 0 and 2
    std::vector<unsigned char> rows;                  // row 1, then rows 0 and 2
    for (int y : {1, 0, 2}) rows.insert(rows.end(), b(0, y), b(0, y) + 16);
    EXPECT_EQ(p.drain(), rows);
    useZ = 1; // a 32-bit length, then zlib data of the whole image
    pipe_t q;
    EXPECT_TRUE(sendColor(b, q.writeFd, 4, 3, 2, 1));
    const std::vector<unsigned char> got = q.drain();
    std::uint32_t length;
    std::memcpy(&length, got.data(), 4);
    ASSERT_EQ(got.size(), 4u + length);
    std::vector<unsigned char> image(48);
    uLongf size = 48;
    ASSERT_EQ(uncompress(image.data(), &size, got.data() + 4, length), Z_OK);
    EXPECT_TRUE(size == 48u && std::memcmp(image.data(), b.data, 48) == 0);
}

TEST_F(transfer, MixInterleavesRowsAndBroadcastsReachEveryWorker) {
    const int w = 5, h = 7, n = 2;
    for (int z = 0; z < 2; ++z) {
        useZ = z;
        std::vector<pipe_t> pipes(n);
        pipeList_t list;
        cBuffer_t expect(w, h);
        fBuffer_t expectDepth(w, h);
        fillColor(expect, 1);
        fillFloat(expectDepth, 3.0f);
        for (int k = 0; k < n; ++k) { // worker k renders its own rows; the rest is garbage
            cBuffer_t part(w, h);
            fBuffer_t depth(w, h);
            std::memset(part.data, 0xAB, w * h * 4);
            fillFloat(depth, -100.0f);
            for (int y = k; y < h; y += n) {
                std::memcpy(part(0, y), expect(0, y), w * 4);
                std::memcpy(&depth(0, y), &expectDepth(0, y), w * sizeof(float));
            }
            ASSERT_TRUE(sendColor(part, pipes[k].writeFd, w, h, n, k));
            ASSERT_TRUE(sendFloat(depth, pipes[k].writeFd, w, h, n, k));
            list.push_back({pipes[k].readFd, pipes[k].writeFd});
        }
        cBuffer_t image(w, h);
        fBuffer_t imageDepth(w, h);
        std::memset(image.data, 0x42, w * h * 4);
        ASSERT_TRUE(mixColor(image, w, h, n, list));
        ASSERT_TRUE(mixFloat(imageDepth, w, h, n, list));
        for (int i = 0; i < w * h; ++i) {
            EXPECT_EQ(0, std::memcmp(image.data + 4 * i, expect.data + 4 * i, 3)) << z << " " << i;
            EXPECT_EQ(image.data[4 * i + 3], 0x42) << "alpha is left alone";
            EXPECT_EQ(imageDepth.data[i], expectDepth.data[i]) << z << " " << i;
        }
        // Broadcasts: each worker gets the image (raw: only its rows) and the flags.
        Buffer_t<char> flags(w, h);
        for (int i = 0; i < w * h; ++i) flags.data[i] = static_cast<char>(i % 3);
        ASSERT_TRUE(sendNColor(expect, list, w, h, n));
        ASSERT_TRUE(sendNOversample(flags, list, w, h, n));
        for (int k = 0; k < n; ++k) {
            cBuffer_t got(w, h);
            const int rows = z ? h : (h - k + n - 1) / n;
            ASSERT_TRUE(receiveColor(got, w, rows, pipes[k].readFd));
            for (int r = 0; r < rows; ++r)
                EXPECT_EQ(0, std::memcmp(got(0, r), expect(0, z ? r : k + r * n), 3)) << z << k << r;
            Buffer_t<char> gotFlags(w, h);
            ASSERT_TRUE(receiveOversample(gotFlags, w, h, pipes[k].readFd));
            EXPECT_EQ(0, std::memcmp(gotFlags.data, flags.data, w * h));
        }
    }
}

TEST_F(transfer, BadMessagesSizesAndClosedEndsAreRefused) {
    cBuffer_t dst(4, 3);
    std::memset(dst.data, 0x5A, 48);
    auto refused = [&dst](std::vector<unsigned char> bytes) { // through a closed pipe; dst stays as it was
        pipe_t p;
        if (writePipe(p.writeFd, bytes.data(), static_cast<int>(bytes.size())) != 0) return false;
        p.closeWrite();
        return !receiveZColor(dst, 4, 3, p.readFd) &&
               std::all_of(dst.data, dst.data + 48, [](unsigned char c) { return c == 0x5A; });
    };
    auto zMessage = [](int w, int h) {
        cBuffer_t src(w, h);
        fillColor(src, 1);
        pipe_t p;
        EXPECT_TRUE(sendZColor(src, p.writeFd, w, h));
        return p.drain();
    };
    auto withLength = [](std::uint32_t len, std::vector<unsigned char> body) {
        std::vector<unsigned char> m(4);
        std::memcpy(m.data(), &len, 4);
        m.insert(m.end(), body.begin(), body.end());
        return m;
    };
    EXPECT_TRUE(refused(withLength(0x7fffffff, {}))) << "longer than 48 bytes can compress to";
    { // such a length is refused before anything is read after it
        pipe_t p;
        const std::vector<unsigned char> m = withLength(200, std::vector<unsigned char>(200, 0x33));
        ASSERT_EQ(writePipe(p.writeFd, const_cast<unsigned char*>(m.data()), static_cast<int>(m.size())), 0);
        EXPECT_FALSE(receiveZColor(dst, 4, 3, p.readFd));
        EXPECT_EQ(p.drain().size(), 200u);
    }
    EXPECT_TRUE(refused(withLength(20, std::vector<unsigned char>(20, 0x33)))) << "garbage";
    EXPECT_TRUE(refused(zMessage(8, 8))) << "a larger image";
    std::vector<unsigned char> cut = zMessage(4, 3);
    cut.resize(cut.size() - 2);
    EXPECT_TRUE(refused(cut)) << "ends inside its compressed bytes";
    pipe_t p;
    EXPECT_FALSE(sendRAWColor(dst, p.writeFd, 5, 3, 1, 0)) << "wider than the buffer";
    EXPECT_FALSE(sendRAWColor(dst, p.writeFd, 4, 3, 0, 0)) << "a step of 0 would never end";
    EXPECT_FALSE(sendRAWColor(dst, p.writeFd, 4, 3, 1, -1)) << "a negative first row";
    EXPECT_FALSE(receiveRAWColor(dst, 4, 4, p.readFd)) << "taller than the buffer";
    pipeList_t list{{p.readFd, p.writeFd}};
    EXPECT_FALSE(mixRAWColor(dst, 4, 3, 2, list)) << "more workers than pipes";
    EXPECT_TRUE(p.drain().empty());
    for (int z = 0; z < 2; ++z) { // a closed reader, and a writer gone mid-message
        useZ = z;
        pipe_t r;
        r.closeRead();
        EXPECT_FALSE(sendColor(dst, r.writeFd, 4, 3, 1, 0));
        pipe_t s;
        ASSERT_EQ(writePipe(s.writeFd, dst.data, 3), 0);
        s.closeWrite();
        EXPECT_FALSE(receiveColor(dst, 4, 3, s.readFd));
    }
}

TEST_F(transfer, InterruptedReadIsRetried) {
    struct sigaction sa {
    }, old{};
    sa.sa_handler = [](int) { alarms = alarms + 1; };
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a blocked read returns EINTR
    ASSERT_EQ(sigaction(SIGALRM, &sa, &old), 0);
    alarms = 0;
    pipe_t p;
    char out[4] = {'w', 'x', 'y', 'z'}, in[4] = {};
    const pid_t readerTid = static_cast<pid_t>(syscall(SYS_gettid));
    const pthread_t reader = pthread_self();
    std::atomic<bool> returned{false};
    // Interrupts the reader once it sleeps in read, waits until it sleeps
    // again (it retried) or gave up, and only then sends the data.
    auto awake = [&] {
        const char state = threadState(readerTid);
        return state != 'S' && state != 0;
    };
    std::thread writer([&] {
        while (awake()) sched_yield();
        pthread_kill(reader, SIGALRM);
        while (alarms == 0) sched_yield();
        while (!returned && awake()) sched_yield();
        writePipe(p.writeFd, out, 4);
    });
    const int result = readPipe(p.readFd, in, 4);
    returned = true;
    writer.join();
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_EQ(alarms, 1);
    EXPECT_EQ(result, 0) << "the interrupted read must be retried";
    EXPECT_EQ(0, std::memcmp(in, out, 4));
}
