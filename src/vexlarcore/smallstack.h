// A stack of plain values with room for N of them inside the object, for the
// ray iterators: a walk that stays within N pending entries never allocates;
// a deeper one moves to the heap once and grows there.
#ifndef VEXLARCORE_SMALLSTACK_H
#define VEXLARCORE_SMALLSTACK_H

#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>

namespace vexlar {

/// The subset of std::vector's interface the iterators use.
template <class T, std::size_t N> class smallStack_t {
    static_assert(std::is_trivially_copyable<T>::value, "smallStack_t holds plain values");

public:
    smallStack_t() : base(local) {}
    smallStack_t(const smallStack_t& o) : base(local) { *this = o; }
    smallStack_t& operator=(const smallStack_t& o) {
        if (this == &o) return *this;
        count = 0;
        reserve(o.count);
        std::memcpy(static_cast<void*>(base), o.base, o.count * sizeof(T));
        count = o.count;
        return *this;
    }

    bool empty() const { return count == 0; }
    std::size_t size() const { return count; }
    std::size_t capacity() const { return room; }
    T& back() { return base[count - 1]; }
    const T& back() const { return base[count - 1]; }
    T& operator[](std::size_t i) { return base[i]; }
    const T& operator[](std::size_t i) const { return base[i]; }
    void pop_back() { --count; }
    void clear() { count = 0; }
    void push_back(const T& v) {
        if (count == room) reserve(2 * room);
        base[count++] = v;
    }
    void reserve(std::size_t n) {
        if (n <= room) return;
        std::unique_ptr<T[]> grown(new T[n]);
        std::memcpy(static_cast<void*>(grown.get()), base, count * sizeof(T));
        heap = std::move(grown);
        base = heap.get();
        room = n;
    }

private:
    T local[N];
    std::unique_ptr<T[]> heap;
    T* base;
    std::size_t count = 0;
    std::size_t room = N;
};

} // namespace vexlar

#endif
