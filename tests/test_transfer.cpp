#include "vexlarcore/transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zlib.h>

using namespace vexlar;

namespace {

// A pipe whose ends close with the object. Small messages fit the pipe's
// kernel buffer, so one thread can write and then read.
struct pipe_t {
    pipe_t() {
        int fds[2];
        if (pipe(fds) != 0) std::abort();
        readFd = fds[0];
        writeFd = fds[1];
    }
    ~pipe_t() {
        closeRead();
        closeWrite();
    }
    void closeRead() {
        if (readFd >= 0) close(readFd);
        readFd = -1;
    }
    void closeWrite() {
        if (writeFd >= 0) close(writeFd);
        writeFd = -1;
    }
    // Everything currently in the pipe, after the writer has closed.
    std::vector<unsigned char> drain() {
        closeWrite();
        std::vector<unsigned char> all;
        unsigned char chunk[4096];
        ssize_t n;
        while ((n = read(readFd, chunk, sizeof chunk)) > 0) all.insert(all.end(), chunk, chunk + n);
        return all;
    }
    int readFd, writeFd;
};

// Pixel (x, y) gets bytes (10y + x, 100 + x, 200 + y, alpha).
void fillColor(cBuffer_t& b, unsigned char alpha) {
    for (int y = 0; y < b.resy; ++y)
        for (int x = 0; x < b.resx; ++x) {
            unsigned char* p = b(x, y);
            p[0] = static_cast<unsigned char>(10 * y + x);
            p[1] = static_cast<unsigned char>(100 + x);
            p[2] = static_cast<unsigned char>(200 + y);
            p[3] = alpha;
        }
}

void fillFloat(fBuffer_t& b, float offset) {
    for (int y = 0; y < b.resy; ++y)
        for (int x = 0; x < b.resx; ++x) b(x, y) = offset + static_cast<float>(y * b.resx + x) * 0.5f;
}

class transferTest : public ::testing::Test {
protected:
    void SetUp() override {
        useZ = 0;
        oldPipe = std::signal(SIGPIPE, SIG_IGN);
    }
    void TearDown() override {
        useZ = 0;
        std::signal(SIGPIPE, oldPipe);
    }
    void (*oldPipe)(int) = nullptr;
};

} // namespace

TEST_F(transferTest, PipeRoundTripAndNonPositiveLengths) {
    pipe_t p;
    char out[6] = "abcde", in[6] = {};
    EXPECT_EQ(writePipe(p.writeFd, out, 5), 0);
    EXPECT_EQ(readPipe(p.readFd, in, 5), 0);
    EXPECT_STREQ(in, "abcde");
    EXPECT_EQ(writePipe(p.writeFd, out, 0), 0);
    EXPECT_EQ(writePipe(p.writeFd, out, -5), -5);
    EXPECT_EQ(readPipe(p.readFd, in, -3), -3);
    EXPECT_TRUE(p.drain().empty());
}

TEST_F(transferTest, RawColorRowsFollowStepAndStart) {
    cBuffer_t b(4, 3);
    fillColor(b, 77);
    pipe_t p, q;
    EXPECT_TRUE(sendColor(b, p.writeFd, 4, 3, 2, 1));
    std::vector<unsigned char> got = p.drain();
    ASSERT_EQ(got.size(), 16u);
    EXPECT_EQ(0, std::memcmp(got.data(), b(0, 1), 16));
    EXPECT_TRUE(sendColor(b, q.writeFd, 4, 3, 2, 0));
    got = q.drain();
    ASSERT_EQ(got.size(), 32u);
    EXPECT_EQ(0, std::memcmp(got.data(), b(0, 0), 16));
    EXPECT_EQ(0, std::memcmp(got.data() + 16, b(0, 2), 16));
}

TEST_F(transferTest, ZColorSendsWholeImageWhateverStepAndStart) {
    cBuffer_t b(4, 3);
    fillColor(b, 5);
    useZ = 1;
    pipe_t p;
    EXPECT_TRUE(sendColor(b, p.writeFd, 4, 3, 2, 1));
    std::vector<unsigned char> got = p.drain();
    ASSERT_GE(got.size(), 4u);
    std::uint32_t length;
    std::memcpy(&length, got.data(), 4);
    ASSERT_EQ(got.size(), 4u + length);
    std::vector<unsigned char> image(48);
    uLongf size = 48;
    ASSERT_EQ(uncompress(image.data(), &size, got.data() + 4, length), Z_OK);
    EXPECT_EQ(size, 48u);
    EXPECT_EQ(0, std::memcmp(image.data(), b.data, 48));
}

TEST_F(transferTest, TinyAndEmptyImagesRoundTripCompressed) {
    // zlib may need more room than twice a few bytes; the sender must still
    // produce a valid message.
    useZ = 1;
    for (int w : {0, 1, 2}) {
        SCOPED_TRACE(testing::Message() << "width " << w);
        cBuffer_t src(w, 1), dst(w, 1);
        fBuffer_t depth(w, 1), gotDepth(w, 1);
        Buffer_t<char> flags(w, 1), gotFlags(w, 1);
        fillColor(src, 44);
        fillFloat(depth, 1.5f);
        for (int x = 0; x < w; ++x) {
            std::memset(dst(x, 0), 0, 4);
            gotDepth(x, 0) = 0;
            flags(x, 0) = static_cast<char>(7 + x);
            gotFlags(x, 0) = 0;
        }
        pipe_t p, q;
        ASSERT_TRUE(sendColor(src, p.writeFd, w, 1, 1, 0));
        ASSERT_TRUE(sendOversample(flags, p.writeFd, w, 1));
        ASSERT_TRUE(sendFloat(depth, q.writeFd, w, 1, 1, 0));
        ASSERT_TRUE(receiveColor(dst, w, 1, p.readFd));
        ASSERT_TRUE(receiveOversample(gotFlags, w, 1, p.readFd));
        pipeList_t one{{q.readFd, q.writeFd}};
        ASSERT_TRUE(mixFloat(gotDepth, w, 1, 1, one));
        for (int x = 0; x < w; ++x) {
            EXPECT_EQ(0, std::memcmp(dst(x, 0), src(x, 0), 4));
            EXPECT_EQ(gotDepth(x, 0), depth(x, 0));
            EXPECT_EQ(gotFlags(x, 0), flags(x, 0));
        }
    }
}

TEST_F(transferTest, RawReceiveKeepsAlphaZReceiveReplacesIt) {
    cBuffer_t src(3, 2), dst(3, 2);
    fillColor(src, 9);
    for (int z = 0; z < 2; ++z) {
        useZ = z;
        std::memset(dst.data, 0xEE, 24);
        pipe_t p;
        ASSERT_TRUE(sendColor(src, p.writeFd, 3, 2, 1, 0));
        ASSERT_TRUE(receiveColor(dst, 3, 2, p.readFd));
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                SCOPED_TRACE(testing::Message() << "useZ " << z << " pixel " << x << "," << y);
                EXPECT_EQ(0, std::memcmp(dst(x, y), src(x, y), 3));
                EXPECT_EQ(dst(x, y)[3], z ? 9 : 0xEE);
            }
    }
}

TEST_F(transferTest, MixInterleavesRowsOfWorkers) {
    const int w = 5, h = 7, n = 2;
    for (int z = 0; z < 2; ++z) {
        useZ = z;
        // Worker k renders only its own rows; other rows hold garbage that
        // must not reach the image.
        std::vector<pipe_t> pipes(n);
        pipeList_t list;
        cBuffer_t expect(w, h);
        fBuffer_t expectDepth(w, h);
        fillColor(expect, 1);
        fillFloat(expectDepth, 3.0f);
        for (int k = 0; k < n; ++k) {
            cBuffer_t part(w, h);
            fBuffer_t depth(w, h);
            std::memset(part.data, 0xAB, static_cast<size_t>(w * h * 4));
            for (int i = 0; i < w * h; ++i) depth.data[i] = -1.0f;
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
        std::memset(image.data, 0x42, static_cast<size_t>(w * h * 4));
        ASSERT_TRUE(mixColor(image, w, h, n, list));
        ASSERT_TRUE(mixFloat(imageDepth, w, h, n, list));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                SCOPED_TRACE(testing::Message() << "useZ " << z << " pixel " << x << "," << y);
                EXPECT_EQ(0, std::memcmp(image(x, y), expect(x, y), 3));
                EXPECT_EQ(image(x, y)[3], 0x42) << "alpha must be left alone";
                EXPECT_EQ(imageDepth(x, y), expectDepth(x, y));
            }
    }
}

TEST_F(transferTest, SendToAllWorkersAndOversampleRoundTrip) {
    const int w = 6, h = 4, n = 3;
    for (int z = 0; z < 2; ++z) {
        useZ = z;
        std::vector<pipe_t> pipes(n);
        pipeList_t list;
        for (auto& p : pipes) list.push_back({p.readFd, p.writeFd});
        cBuffer_t image(w, h);
        fillColor(image, 200);
        Buffer_t<char> flags(w, h);
        for (int i = 0; i < w * h; ++i) flags.data[i] = static_cast<char>(i % 3);
        ASSERT_TRUE(sendNColor(image, list, w, h, n));
        ASSERT_TRUE(sendNOversample(flags, list, w, h, n));
        for (int k = 0; k < n; ++k) {
            SCOPED_TRACE(testing::Message() << "useZ " << z << " worker " << k);
            cBuffer_t got(w, h);
            std::memset(got.data, 0, static_cast<size_t>(w * h * 4));
            if (z) {
                ASSERT_TRUE(receiveColor(got, w, h, pipes[k].readFd));
                EXPECT_EQ(0, std::memcmp(got.data, image.data, static_cast<size_t>(w * h * 4)));
            } else {
                // RAW: worker k gets only its rows k, k + n, ...
                int rows = (h - k + n - 1) / n;
                ASSERT_TRUE(receiveColor(got, w, rows, pipes[k].readFd));
                for (int r = 0; r < rows; ++r)
                    EXPECT_EQ(0, std::memcmp(got(0, r), image(0, k + r * n), 3)) << "row " << r;
            }
            Buffer_t<char> gotFlags(w, h);
            ASSERT_TRUE(receiveOversample(gotFlags, w, h, pipes[k].readFd));
            EXPECT_EQ(0, std::memcmp(gotFlags.data, flags.data, static_cast<size_t>(w * h)));
        }
    }
}

TEST_F(transferTest, SenderReportsClosedReader) {
    cBuffer_t b(4, 3);
    fillColor(b, 0);
    for (int z = 0; z < 2; ++z) {
        useZ = z;
        pipe_t p;
        p.closeRead();
        EXPECT_FALSE(sendColor(b, p.writeFd, 4, 3, 1, 0));
        char c = 0;
        EXPECT_EQ(writePipe(p.writeFd, &c, 1), -1);
    }
}

TEST_F(transferTest, EarlyEndOfPipeIsReportedNotLoopedOn) {
    pipe_t p;
    char half[3] = {1, 2, 3}, in[8];
    ASSERT_EQ(writePipe(p.writeFd, half, 3), 0);
    p.closeWrite();
    EXPECT_EQ(readPipe(p.readFd, in, 8), -1);

    cBuffer_t b(4, 3);
    pipe_t q;
    ASSERT_EQ(writePipe(q.writeFd, half, 3), 0);
    q.closeWrite();
    EXPECT_FALSE(receiveRAWColor(b, 4, 3, q.readFd));
}

TEST_F(transferTest, LyingOrCorruptZMessagesLeaveDestinationUnchanged) {
    cBuffer_t dst(4, 3);
    std::memset(dst.data, 0x5A, 48);
    // Feeds `bytes` to receiveZColor through a closed pipe; the destination
    // must stay as it was.
    auto refused = [&dst](std::vector<unsigned char> bytes) {
        pipe_t p;
        if (writePipe(p.writeFd, bytes.data(), static_cast<int>(bytes.size())) != 0) return false;
        p.closeWrite();
        const bool ok = receiveZColor(dst, 4, 3, p.readFd);
        return !ok && std::all_of(dst.data, dst.data + 48, [](unsigned char c) { return c == 0x5A; });
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
    EXPECT_TRUE(refused(withLength(0x7fffffff, {}))) << "length beyond what 48 bytes compress to";
    EXPECT_TRUE(refused(withLength(20, std::vector<unsigned char>(20, 0x33)))) << "garbage";
    EXPECT_TRUE(refused(zMessage(8, 8))) << "a larger image than expected";
    std::vector<unsigned char> cut = zMessage(4, 3);
    cut.resize(cut.size() - 2);
    EXPECT_TRUE(refused(cut)) << "ends inside its compressed bytes";
}

TEST_F(transferTest, SizesBeyondTheBufferAreRefused) {
    cBuffer_t b(4, 3);
    fillColor(b, 0);
    pipe_t p;
    EXPECT_FALSE(sendRAWColor(b, p.writeFd, 5, 3, 1, 0));
    EXPECT_FALSE(sendRAWColor(b, p.writeFd, 4, 3, 0, 0)) << "a step of 0 would never end";
    EXPECT_FALSE(receiveRAWColor(b, 4, 4, p.readFd));
    pipeList_t list{{p.readFd, p.writeFd}};
    EXPECT_FALSE(mixRAWColor(b, 4, 3, 2, list)) << "more workers than pipes";
    EXPECT_TRUE(p.drain().empty());
}

namespace {

volatile sig_atomic_t alarms = 0;
void onAlarm(int) {
    alarms = alarms + 1;
}

// The scheduler state letter of thread `tid` of this process ('S' while it
// sleeps in a blocking call), or 0 if it cannot be read.
char threadState(pid_t tid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/stat", static_cast<int>(tid));
    FILE* f = std::fopen(path, "r");
    if (!f) return 0;
    char line[512] = {};
    const size_t n = std::fread(line, 1, sizeof line - 1, f);
    std::fclose(f);
    line[n] = '\0';
    const char* close = std::strrchr(line, ')');
    return (close && close[1] == ' ') ? close[2] : 0;
}

} // namespace

TEST_F(transferTest, InterruptedReadIsRetried) {
    struct sigaction sa {};
    sa.sa_handler = onAlarm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a blocked read returns EINTR
    struct sigaction old {};
    ASSERT_EQ(sigaction(SIGALRM, &sa, &old), 0);
    alarms = 0;
    pipe_t p;
    char out[4] = {'w', 'x', 'y', 'z'}, in[4] = {};
    const pid_t readerTid = static_cast<pid_t>(syscall(SYS_gettid));
    const pthread_t reader = pthread_self();
    std::atomic<bool> returned{false};
    // Interrupts the reader once it sleeps in read, waits until it sleeps
    // again (it retried) or has given up, and only then sends the data.
    // Without /proc the state reads as 0 and nothing is waited for.
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

TEST(mutex, LocksAndUnlocks) {
    mutex_t m;
    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < 2000; ++i) {
            m.wait();
            ++counter;
            m.signal();
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 4000);
}
