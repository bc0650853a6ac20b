// Rectangular pixel buffers: one float per pixel (depth), N elements per
// pixel (the RGBA colour buffer) and one element per pixel (flags).
//
// All three are row-major without gaps: pixel (x, y) is element
// y * resx + x (times N for gBuf_t). Which row is the top of the picture is
// decided by whoever writes and reads the buffer, not by the buffer.
//
// The buffers own their storage (array new) and never change size after
// construction, except fBuffer_t::set. Pixel access does no bounds checks;
// callers keep 0 <= x < resx and 0 <= y < resy. A buffer is not copyable
// (it owns a raw array); assignment copies the contents between two
// allocated buffers of the same width and height.
//
// Allocation failure (including a negative size or one whose byte count
// exceeds what the address space can hold) prints
// "Error allocating memory in cBuffer\n" and ends the process with exit
// status 1: on standard output for fBuffer_t, on standard error for gBuf_t
// and Buffer_t.
//
// None of the buffers is thread-safe for writing; concurrent reads are fine.
#ifndef VEXLARCORE_BUFFER_H
#define VEXLARCORE_BUFFER_H

#include <cstddef>
#include <new>

#include "vexlarcore/messages.h"

namespace vexlar {

namespace bufferDetail {
/// Number of elements of a w x h buffer with n elements per pixel, or 0 with
/// `ok` false when w or h is negative or the byte count (element size
/// `elemSize`) would not fit a ptrdiff_t.
std::size_t elementCount(int w, int h, std::size_t n, std::size_t elemSize, bool& ok);
/// Reports the allocation failure line (an error for `stream`) and exits
/// with status 1.
[[noreturn]] void allocationFailed(messageStream_t stream);

template <class T> T* allocate(int w, int h, std::size_t n, messageStream_t failStream) {
    bool ok = false;
    std::size_t count = elementCount(w, h, n, sizeof(T), ok);
    if (!ok) allocationFailed(failStream);
    T* p = new (std::nothrow) T[count];
    if (p == nullptr) allocationFailed(failStream);
    return p;
}
} // namespace bufferDetail

/// One 32-bit float per pixel (the depth buffer of the post filters).
class fBuffer_t {
public:
    /// Allocates w x h floats (not initialised).
    fBuffer_t(int w, int h);
    ~fBuffer_t();
    fBuffer_t(const fBuffer_t&) = delete;

    /// Replaces the storage by w x h new floats (not initialised, nothing
    /// copied) and records the new size.
    void set(int w, int h);

    /// Copies the other buffer's values. Buffers whose widths or heights
    /// differ print "Error, trying to assign  buffers of a diferent size\n";
    /// an unallocated side prints "Assigning unallocated buffers\n" (both on
    /// standard output, both checks run, size first). In either case nothing
    /// is copied.
    fBuffer_t& operator=(const fBuffer_t& other);

    float& operator()(int x, int y) { return data[static_cast<std::ptrdiff_t>(y) * resx + x]; }
    float operator()(int x, int y) const { return data[static_cast<std::ptrdiff_t>(y) * resx + x]; }

    float* data;
    int resx;
    int resy;
};

/// N elements of T per pixel. The library uses gBuf_t<unsigned char, 4>, the
/// colour buffer cBuffer_t: bytes R, G, B, A, read and written with the
/// colour packing operators at the pointer returned by operator().
template <class T, unsigned char N> class gBuf_t {
public:
    /// Allocates w x h x N elements (not initialised).
    gBuf_t(int w, int h)
        : data(bufferDetail::allocate<T>(w, h, N, messageStream_t::standardError)), resx(w), resy(h) {}
    ~gBuf_t() { delete[] data; }
    gBuf_t(const gBuf_t&) = delete;

    /// Copies element by element. Different widths or heights print
    /// "Error, trying to assign buffers of a diferent size\n", an
    /// unallocated side "Assigning unallocated buffers\n" (both on standard
    /// error, both checks run, size first); in either case nothing is copied.
    gBuf_t& operator=(const gBuf_t& other) {
        bool good = true;
        if (resx != other.resx || resy != other.resy) {
            emitMessage(messageLevel_t::error, messageStream_t::standardError,
                        "Error, trying to assign buffers of a diferent size\n");
            good = false;
        }
        if (data == nullptr || other.data == nullptr) {
            emitMessage(messageLevel_t::error, messageStream_t::standardError,
                        "Assigning unallocated buffers\n");
            good = false;
        }
        if (!good || this == &other) return *this;
        std::size_t n = static_cast<std::size_t>(resx) * static_cast<std::size_t>(resy) * N;
        for (std::size_t i = 0; i < n; ++i) data[i] = other.data[i];
        return *this;
    }

    /// The first of the N elements of pixel (x, y).
    T* operator()(int x, int y) { return data + (static_cast<std::ptrdiff_t>(y) * resx + x) * N; }
    const T* operator()(int x, int y) const { return data + (static_cast<std::ptrdiff_t>(y) * resx + x) * N; }

    T* data;
    int resx;
    int resy;
};

/// The colour buffer: four bytes R, G, B, A per pixel.
typedef gBuf_t<unsigned char, 4> cBuffer_t;

/// One element of T per pixel (the library uses Buffer_t<char>, the
/// per-pixel oversampling flags). Same layout and ownership as the others.
template <class T> class Buffer_t {
public:
    /// Allocates w x h elements (not initialised).
    Buffer_t(int w, int h)
        : data(bufferDetail::allocate<T>(w, h, 1, messageStream_t::standardError)), resx(w), resy(h) {}
    ~Buffer_t() { delete[] data; }
    Buffer_t(const Buffer_t&) = delete;
    Buffer_t& operator=(const Buffer_t&) = delete;

    T& operator()(int x, int y) { return data[static_cast<std::ptrdiff_t>(y) * resx + x]; }
    const T& operator()(int x, int y) const { return data[static_cast<std::ptrdiff_t>(y) * resx + x]; }

    T* data;
    int resx;
    int resy;
};

} // namespace vexlar

#endif
