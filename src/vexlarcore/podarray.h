// A growable array of plain values (trivially copyable) for the big arrays of
// meshes and their trees.
//
// Unlike std::vector it never holds two copies of its elements while it
// grows: buffers of a megabyte or more are memory mappings of their own that
// grow and shrink in place (the system moves the pages, not the bytes), so a
// tree built by appending costs its final size in memory, not twice that.
// Elements are not initialised by `resize` (they are plain values that the
// caller fills). Not thread-safe while it changes; concurrent reads are fine.
#ifndef VEXLARCORE_PODARRAY_H
#define VEXLARCORE_PODARRAY_H

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace vexlar {

/// Resizes the raw block `p` of `oldBytes` to `newBytes` (either may be 0),
/// keeping the first min(oldBytes, newBytes) bytes; returns the block (null
/// for 0 bytes). Throws std::bad_alloc when memory runs out. Blocks made
/// here must be released here (newBytes 0).
void* podRealloc(void* p, std::size_t oldBytes, std::size_t newBytes);

template <class T> class podArray_t {
    static_assert(std::is_trivially_copyable<T>::value, "podArray_t holds plain values only");

public:
    podArray_t() = default;
    ~podArray_t() { podRealloc(ptr, cap * sizeof(T), 0); }
    podArray_t(const podArray_t& o) { assign(o.data(), o.size()); }
    podArray_t& operator=(const podArray_t& o) {
        if (this != &o) assign(o.data(), o.size());
        return *this;
    }
    podArray_t(podArray_t&& o) noexcept : ptr(o.ptr), count(o.count), cap(o.cap) {
        o.ptr = nullptr;
        o.count = o.cap = 0;
    }
    podArray_t& operator=(podArray_t&& o) noexcept {
        std::swap(ptr, o.ptr);
        std::swap(count, o.count);
        std::swap(cap, o.cap);
        return *this;
    }

    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
    std::size_t capacity() const { return cap; }
    T* data() { return ptr; }
    const T* data() const { return ptr; }
    T* begin() { return ptr; }
    T* end() { return ptr + count; }
    const T* begin() const { return ptr; }
    const T* end() const { return ptr + count; }
    T& operator[](std::size_t i) { return ptr[i]; }
    const T& operator[](std::size_t i) const { return ptr[i]; }
    T& back() { return ptr[count - 1]; }
    const T& back() const { return ptr[count - 1]; }

    void push_back(const T& v) {
        if (count == cap) grow(count + 1);
        ptr[count++] = v;
    }
    /// Appends `n` values from `src`.
    void append(const T* src, std::size_t n) {
        if (n == 0) return;
        if (count + n > cap) grow(count + n);
        std::memcpy(static_cast<void*>(ptr + count), src, n * sizeof(T));
        count += n;
    }
    /// New elements are left uninitialised.
    void resize(std::size_t n) {
        if (n > cap) grow(n);
        count = n;
    }
    void reserve(std::size_t n) {
        if (n > cap) setCapacity(n);
    }
    void clear() { count = 0; }
    /// Gives back the room beyond `size()`.
    void shrink_to_fit() {
        if (cap > count) setCapacity(count);
    }
    void assign(const T* src, std::size_t n) {
        count = 0;
        append(src, n);
    }
    /// Bytes held (the capacity), for memory accounting.
    std::size_t bytes() const { return cap * sizeof(T); }

private:
    T* ptr = nullptr;
    std::size_t count = 0;
    std::size_t cap = 0;

    void grow(std::size_t need) {
        std::size_t c = cap < 16 ? 16 : cap + cap / 2;
        setCapacity(c < need ? need : c);
    }
    void setCapacity(std::size_t c) {
        ptr = static_cast<T*>(podRealloc(ptr, cap * sizeof(T), c * sizeof(T)));
        cap = c;
    }
};

} // namespace vexlar

#endif
