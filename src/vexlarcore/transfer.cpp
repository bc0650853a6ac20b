#include "vexlarcore/transfer.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace vexlar {

int useZ = 0;

namespace {

// Moves exactly `bytes` bytes, retrying short transfers and interrupted
// calls. A read that returns 0 means the writer is gone: without this check
// the loop would spin forever on a dead worker.
bool transferAll(int fd, void* buf, std::size_t bytes, bool writing) {
    unsigned char* p = static_cast<unsigned char*>(buf);
    while (bytes > 0) {
        ssize_t done = writing ? ::write(fd, p, bytes) : ::read(fd, p, bytes);
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (done == 0) return false;
        p += done;
        bytes -= static_cast<std::size_t>(done);
    }
    return true;
}

bool writeAll(int fd, const void* buf, std::size_t bytes) {
    return transferAll(fd, const_cast<void*>(buf), bytes, true);
}
bool readAll(int fd, void* buf, std::size_t bytes) {
    return transferAll(fd, buf, bytes, false);
}

template <class B> bool fits(const B& buf, int resx, int resy) {
    return buf.data != nullptr && resx >= 0 && resy >= 0 && resx <= buf.resx && resy <= buf.resy;
}

std::size_t pixels(int resx, int resy) {
    return static_cast<std::size_t>(resx) * static_cast<std::size_t>(resy);
}

// Rows start, start + step, ... of a buffer with `elemsPerRow` elements of
// `elemSize` bytes per row; `rowBytes` bytes of each row are sent.
bool sendRows(const void* base, std::size_t rowStride, std::size_t rowBytes, int fd, int resy, int step,
              int start) {
    if (step < 1 || start < 0) return false;
    const unsigned char* b = static_cast<const unsigned char*>(base);
    bool ok = true;
    for (int y = start; y < resy; y += step) {
        if (!writeAll(fd, b + static_cast<std::size_t>(y) * rowStride, rowBytes)) ok = false;
    }
    return ok;
}

bool compressMessage(const void* data, std::size_t bytes, std::vector<unsigned char>& message) {
    uLongf packed = compressBound(static_cast<uLong>(bytes));
    message.resize(sizeof(std::uint32_t) + packed);
    if (compress(message.data() + sizeof(std::uint32_t), &packed, static_cast<const Bytef*>(data),
                 static_cast<uLong>(bytes)) != Z_OK)
        return false;
    // The length field has 32 bits; a longer message cannot be described.
    if (packed > 0xFFFFFFFFu) return false;
    std::uint32_t length = static_cast<std::uint32_t>(packed);
    std::memcpy(message.data(), &length, sizeof length);
    message.resize(sizeof(std::uint32_t) + packed);
    return true;
}

bool sendZ(const void* data, std::size_t bytes, int fd) {
    std::vector<unsigned char> message;
    return compressMessage(data, bytes, message) && writeAll(fd, message.data(), message.size());
}

// Reads one Z message and inflates it into `out` (exactly `expected` bytes).
// The length field is checked against what a message for `expected` bytes
// can need before anything is allocated, and inflation is bounded by
// `expected`, so a lying or corrupt message is refused, never followed.
bool receiveZ(int fd, std::size_t expected, std::vector<unsigned char>& out) {
    std::uint32_t length = 0;
    if (!readAll(fd, &length, sizeof length)) return false;
    if (length == 0 || length > compressBound(static_cast<uLong>(expected))) return false;
    std::vector<unsigned char> packed(length);
    if (!readAll(fd, packed.data(), length)) return false;
    out.resize(expected);
    uLongf outLength = static_cast<uLongf>(expected);
    // zlib wants a non-null destination even for an empty image.
    unsigned char dummy = 0;
    unsigned char* dest = expected ? out.data() : &dummy;
    if (uncompress(dest, &outLength, packed.data(), length) != Z_OK) return false;
    return outLength == expected;
}

// memcpy that accepts the null pointers of empty images.
void copyBytes(void* dst, const void* src, std::size_t bytes) {
    if (bytes > 0) std::memcpy(dst, src, bytes);
}

void copyRGB(unsigned char* dst, const unsigned char* src, int resx) {
    for (int x = 0; x < resx; ++x) {
        dst[4 * x] = src[4 * x];
        dst[4 * x + 1] = src[4 * x + 1];
        dst[4 * x + 2] = src[4 * x + 2];
    }
}

bool validWorkers(const pipeList_t& pipes, int n) {
    return n >= 1 && pipes.size() >= static_cast<std::size_t>(n);
}

} // namespace

int writePipe(int fd, void* buf, int len) {
    if (len <= 0) return len;
    return writeAll(fd, buf, static_cast<std::size_t>(len)) ? 0 : -1;
}

int readPipe(int fd, void* buf, int len) {
    if (len <= 0) return len;
    return readAll(fd, buf, static_cast<std::size_t>(len)) ? 0 : -1;
}

// ---- senders ----

bool sendColor(const cBuffer_t& buf, int fd, int resx, int resy, int step, int start) {
    return useZ ? sendZColor(buf, fd, resx, resy, step, start)
                : sendRAWColor(buf, fd, resx, resy, step, start);
}

bool sendRAWColor(const cBuffer_t& buf, int fd, int resx, int resy, int step, int start) {
    if (!fits(buf, resx, resy)) return false;
    return sendRows(buf.data, static_cast<std::size_t>(buf.resx) * 4, static_cast<std::size_t>(resx) * 4, fd,
                    resy, step, start);
}

bool sendZColor(const cBuffer_t& buf, int fd, int resx, int resy, int, int) {
    if (!fits(buf, resx, resy)) return false;
    return sendZ(buf.data, pixels(resx, resy) * 4, fd);
}

bool sendFloat(const fBuffer_t& buf, int fd, int resx, int resy, int step, int start) {
    return useZ ? sendZFloat(buf, fd, resx, resy, step, start)
                : sendRAWFloat(buf, fd, resx, resy, step, start);
}

bool sendRAWFloat(const fBuffer_t& buf, int fd, int resx, int resy, int step, int start) {
    if (!fits(buf, resx, resy)) return false;
    return sendRows(buf.data, static_cast<std::size_t>(buf.resx) * sizeof(float),
                    static_cast<std::size_t>(resx) * sizeof(float), fd, resy, step, start);
}

bool sendZFloat(const fBuffer_t& buf, int fd, int resx, int resy, int, int) {
    if (!fits(buf, resx, resy)) return false;
    return sendZ(buf.data, pixels(resx, resy) * sizeof(float), fd);
}

bool sendOversample(const Buffer_t<char>& buf, int fd, int resx, int resy, int, int) {
    return useZ ? sendZOversample(buf, fd, resx, resy) : sendRAWOversample(buf, fd, resx, resy);
}

bool sendRAWOversample(const Buffer_t<char>& buf, int fd, int resx, int resy, int, int) {
    if (!fits(buf, resx, resy)) return false;
    return writeAll(fd, buf.data, pixels(resx, resy));
}

bool sendZOversample(const Buffer_t<char>& buf, int fd, int resx, int resy, int, int) {
    if (!fits(buf, resx, resy)) return false;
    return sendZ(buf.data, pixels(resx, resy), fd);
}

bool sendNColor(const cBuffer_t& buf, pipeList_t pipes, int resx, int resy, int n) {
    return useZ ? sendNZColor(buf, pipes, resx, resy, n) : sendNRAWColor(buf, pipes, resx, resy, n);
}

bool sendNRAWColor(const cBuffer_t& buf, pipeList_t pipes, int resx, int resy, int n) {
    if (!validWorkers(pipes, n)) return false;
    bool ok = true;
    for (int k = 0; k < n; ++k) {
        if (!sendRAWColor(buf, pipes[k].second, resx, resy, n, k)) ok = false;
    }
    return ok;
}

bool sendNZColor(const cBuffer_t& buf, pipeList_t pipes, int resx, int resy, int n) {
    if (!validWorkers(pipes, n) || !fits(buf, resx, resy)) return false;
    std::vector<unsigned char> message;
    if (!compressMessage(buf.data, pixels(resx, resy) * 4, message)) return false;
    bool ok = true;
    for (int k = 0; k < n; ++k) {
        if (!writeAll(pipes[k].second, message.data(), message.size())) ok = false;
    }
    return ok;
}

bool sendNOversample(const Buffer_t<char>& buf, pipeList_t pipes, int resx, int resy, int n) {
    return useZ ? sendNZOversample(buf, pipes, resx, resy, n) : sendNRAWOversample(buf, pipes, resx, resy, n);
}

bool sendNRAWOversample(const Buffer_t<char>& buf, pipeList_t pipes, int resx, int resy, int n) {
    if (!validWorkers(pipes, n)) return false;
    bool ok = true;
    for (int k = 0; k < n; ++k) {
        if (!sendRAWOversample(buf, pipes[k].second, resx, resy)) ok = false;
    }
    return ok;
}

bool sendNZOversample(const Buffer_t<char>& buf, pipeList_t pipes, int resx, int resy, int n) {
    if (!validWorkers(pipes, n) || !fits(buf, resx, resy)) return false;
    std::vector<unsigned char> message;
    if (!compressMessage(buf.data, pixels(resx, resy), message)) return false;
    bool ok = true;
    for (int k = 0; k < n; ++k) {
        if (!writeAll(pipes[k].second, message.data(), message.size())) ok = false;
    }
    return ok;
}

// ---- receivers ----

bool receiveColor(cBuffer_t& buf, int resx, int resy, int fd) {
    return useZ ? receiveZColor(buf, resx, resy, fd) : receiveRAWColor(buf, resx, resy, fd);
}

bool receiveRAWColor(cBuffer_t& buf, int resx, int resy, int fd) {
    if (!fits(buf, resx, resy)) return false;
    std::vector<unsigned char> row(static_cast<std::size_t>(resx) * 4);
    for (int y = 0; y < resy; ++y) {
        if (!readAll(fd, row.data(), row.size())) return false;
        copyRGB(buf(0, y), row.data(), resx);
    }
    return true;
}

bool receiveZColor(cBuffer_t& buf, int resx, int resy, int fd) {
    if (!fits(buf, resx, resy)) return false;
    std::vector<unsigned char> image;
    if (!receiveZ(fd, pixels(resx, resy) * 4, image)) return false;
    copyBytes(buf.data, image.data(), image.size());
    return true;
}

bool receiveOversample(Buffer_t<char>& buf, int resx, int resy, int fd) {
    return useZ ? receiveZOversample(buf, resx, resy, fd) : receiveRAWOversample(buf, resx, resy, fd);
}

bool receiveRAWOversample(Buffer_t<char>& buf, int resx, int resy, int fd) {
    if (!fits(buf, resx, resy)) return false;
    return readAll(fd, buf.data, pixels(resx, resy));
}

bool receiveZOversample(Buffer_t<char>& buf, int resx, int resy, int fd) {
    if (!fits(buf, resx, resy)) return false;
    std::vector<unsigned char> flags;
    if (!receiveZ(fd, pixels(resx, resy), flags)) return false;
    copyBytes(buf.data, flags.data(), flags.size());
    return true;
}

// ---- mixers ----

bool mixColor(cBuffer_t& buf, int resx, int resy, int n, pipeList_t pipes) {
    return useZ ? mixZColor(buf, resx, resy, n, pipes) : mixRAWColor(buf, resx, resy, n, pipes);
}

bool mixRAWColor(cBuffer_t& buf, int resx, int resy, int n, pipeList_t pipes) {
    if (!validWorkers(pipes, n) || !fits(buf, resx, resy)) return false;
    std::vector<unsigned char> row(static_cast<std::size_t>(resx) * 4);
    for (int y = 0; y < resy; ++y) {
        if (!readAll(pipes[y % n].first, row.data(), row.size())) return false;
        copyRGB(buf(0, y), row.data(), resx);
    }
    return true;
}

bool mixZColor(cBuffer_t& buf, int resx, int resy, int n, pipeList_t pipes) {
    if (!validWorkers(pipes, n) || !fits(buf, resx, resy)) return false;
    std::vector<unsigned char> image;
    for (int k = 0; k < n; ++k) {
        if (!receiveZ(pipes[k].first, pixels(resx, resy) * 4, image)) return false;
        for (int y = k; y < resy; y += n)
            copyRGB(buf(0, y), image.data() + static_cast<std::size_t>(y) * resx * 4, resx);
    }
    return true;
}

bool mixFloat(fBuffer_t& buf, int resx, int resy, int n, pipeList_t pipes) {
    return useZ ? mixZFloat(buf, resx, resy, n, pipes) : mixRAWFloat(buf, resx, resy, n, pipes);
}

bool mixRAWFloat(fBuffer_t& buf, int resx, int resy, int n, pipeList_t pipes) {
    if (!validWorkers(pipes, n) || !fits(buf, resx, resy)) return false;
    for (int y = 0; y < resy; ++y) {
        if (!readAll(pipes[y % n].first, &buf(0, y), static_cast<std::size_t>(resx) * sizeof(float)))
            return false;
    }
    return true;
}

bool mixZFloat(fBuffer_t& buf, int resx, int resy, int n, pipeList_t pipes) {
    if (!validWorkers(pipes, n) || !fits(buf, resx, resy)) return false;
    std::vector<unsigned char> image;
    for (int k = 0; k < n; ++k) {
        if (!receiveZ(pipes[k].first, pixels(resx, resy) * sizeof(float), image)) return false;
        const std::size_t rowBytes = static_cast<std::size_t>(resx) * sizeof(float);
        for (int y = k; y < resy; y += n)
            copyBytes(&buf(0, y), image.data() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
    }
    return true;
}

} // namespace vexlar
