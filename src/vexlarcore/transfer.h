// Moving image rows between render processes through pipes.
//
// A worker renders part of the image into its own buffers and sends them to
// the process that assembles the picture; the receiver reads them back or
// mixes the rows of n workers into one buffer. Rows are interleaved: image
// row y belongs to worker y mod n.
//
// Two forms exist, chosen by the global `useZ` (sender and receiver must
// agree): RAW sends rows as they are; Z sends the whole buffer as one zlib
// message, a 32-bit unsigned length L (native byte order) followed by L bytes
// of `compress` output.
//
// Message layouts (native byte order, both ends on one machine):
//   RAW colour:       for each row y = start, start + step, ... < resy: resx * 4 bytes R, G, B, A
//   RAW float:        for each such row: resx floats
//   RAW oversampling: resx * resy bytes from the buffer's start
//   Z colour / float / oversampling: L, then the compressed first resx * resy * 4
//                     (colour, float) or resx * resy (oversampling) bytes
//
// Failures are reported, never hidden: every sender returns false when a
// write failed, and every receiver and mixer returns false when the pipe
// failed, ended early (the writer died) or carried a message that does not
// fit the destination. A failed Z message leaves the destination unchanged;
// a failed RAW transfer may leave the rows read so far. resx and resy must
// not exceed the buffer's own size (calls that ask for more are refused), so
// nothing is ever read or written outside a buffer.
//
// Writing to a pipe whose reader has gone raises SIGPIPE, which ends a
// process by default; a process that must survive a dead reader (and see
// `false` instead) ignores SIGPIPE.
//
// All functions are plain blocking calls on the caller's thread.
#ifndef VEXLARCORE_TRANSFER_H
#define VEXLARCORE_TRANSFER_H

#include <pthread.h>
#include <utility>
#include <vector>

#include "vexlarcore/buffer.h"

namespace vexlar {

/// Non-zero: every dispatching function uses the Z form. Initially 0.
extern int useZ;

/// One (read end, write end) pair of descriptors per worker, in worker order:
/// the mixers read from `first`, the send-to-all functions write to `second`.
typedef std::vector<std::pair<int, int>> pipeList_t;

/// Writes len bytes of buf to fd, retrying short writes and EINTR. Returns 0
/// when all were written, -1 when a write failed, and len itself (writing
/// nothing) when len <= 0.
int writePipe(int fd, void* buf, int len);
/// Reads len bytes from fd into buf, retrying short reads and EINTR. Returns
/// 0 when all were read, -1 when a read failed or the pipe ended first, and
/// len itself (reading nothing) when len <= 0.
int readPipe(int fd, void* buf, int len);

// Senders: true when the whole message was written. step must be >= 1 for
// the RAW row forms; the Z forms always send the whole buffer.
bool sendColor(const cBuffer_t& buf, int fd, int resx, int resy, int step, int start);
bool sendRAWColor(const cBuffer_t& buf, int fd, int resx, int resy, int step, int start);
bool sendZColor(const cBuffer_t& buf, int fd, int resx, int resy, int step = 1, int start = 0);
bool sendFloat(const fBuffer_t& buf, int fd, int resx, int resy, int step, int start);
bool sendRAWFloat(const fBuffer_t& buf, int fd, int resx, int resy, int step, int start);
bool sendZFloat(const fBuffer_t& buf, int fd, int resx, int resy, int step = 1, int start = 0);
bool sendOversample(const Buffer_t<char>& buf, int fd, int resx, int resy, int = 0, int = 0);
bool sendRAWOversample(const Buffer_t<char>& buf, int fd, int resx, int resy, int = 0, int = 0);
bool sendZOversample(const Buffer_t<char>& buf, int fd, int resx, int resy, int = 0, int = 0);

/// To n workers: RAW sends worker k its rows k, k + n, ...; Z compresses once
/// and sends the same message to all. Writes to pipes[k].second.
bool sendNColor(const cBuffer_t& buf, pipeList_t pipes, int resx, int resy, int n);
bool sendNRAWColor(const cBuffer_t& buf, pipeList_t pipes, int resx, int resy, int n);
bool sendNZColor(const cBuffer_t& buf, pipeList_t pipes, int resx, int resy, int n);
bool sendNOversample(const Buffer_t<char>& buf, pipeList_t pipes, int resx, int resy, int n);
bool sendNRAWOversample(const Buffer_t<char>& buf, pipeList_t pipes, int resx, int resy, int n);
bool sendNZOversample(const Buffer_t<char>& buf, pipeList_t pipes, int resx, int resy, int n);

// Receivers. A RAW colour row replaces R, G, B and leaves the buffer's alpha
// bytes alone; a Z colour message replaces all four bytes of every pixel.
bool receiveColor(cBuffer_t& buf, int resx, int resy, int fd);
bool receiveRAWColor(cBuffer_t& buf, int resx, int resy, int fd);
bool receiveZColor(cBuffer_t& buf, int resx, int resy, int fd);
bool receiveOversample(Buffer_t<char>& buf, int resx, int resy, int fd);
bool receiveRAWOversample(Buffer_t<char>& buf, int resx, int resy, int fd);
bool receiveZOversample(Buffer_t<char>& buf, int resx, int resy, int fd);

// Mixers: assemble one image from n workers by the row interleave, reading
// pipes[k].first. Colour mixers copy R, G, B only (alpha untouched); float
// mixers copy whole floats.
bool mixColor(cBuffer_t& buf, int resx, int resy, int n, pipeList_t pipes);
bool mixRAWColor(cBuffer_t& buf, int resx, int resy, int n, pipeList_t pipes);
bool mixZColor(cBuffer_t& buf, int resx, int resy, int n, pipeList_t pipes);
bool mixFloat(fBuffer_t& buf, int resx, int resy, int n, pipeList_t pipes);
bool mixRAWFloat(fBuffer_t& buf, int resx, int resy, int n, pipeList_t pipes);
bool mixZFloat(fBuffer_t& buf, int resx, int resy, int n, pipeList_t pipes);

} // namespace vexlar

/// A POSIX mutex, offered to drivers that share an output between threads.
/// No library code locks it.
class mutex_t {
public:
    mutex_t() { pthread_mutex_init(&m, nullptr); }
    ~mutex_t() { pthread_mutex_destroy(&m); }
    mutex_t(const mutex_t&) = delete;
    mutex_t& operator=(const mutex_t&) = delete;
    /// Locks.
    void wait() { pthread_mutex_lock(&m); }
    /// Unlocks.
    void signal() { pthread_mutex_unlock(&m); }

private:
    pthread_mutex_t m;
};

#endif
