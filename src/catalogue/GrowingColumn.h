#pragma once
// A column of the catalogue while a walk adds to it, one entry at a time, to a size nobody
// knows beforehand. Its pages come straight from the kernel and it grows by remapping them:
// a std::vector grows by copying into a block twice as large while the old one is still
// held, and the heap keeps the old blocks afterwards, so a catalogue being built took about
// twice its own size. Here the pages not yet written cost nothing and nothing is held twice.
// Handed over, it is copied into a std::vector a chunk at a time, each chunk given back to
// the kernel once copied: the column is never whole twice.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

namespace quindle {

template <class T> class GrowingColumn {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    GrowingColumn() = default;
    ~GrowingColumn() { Release(); }
    GrowingColumn(const GrowingColumn&) = delete;
    GrowingColumn& operator=(const GrowingColumn&) = delete;
    GrowingColumn(GrowingColumn&& o) noexcept { *this = std::move(o); }
    GrowingColumn& operator=(GrowingColumn&& o) noexcept {
        if (this != &o) {
            Release();
            map_ = o.map_;
            mapped_ = o.mapped_;
            size_ = o.size_;
            o.map_ = nullptr;
            o.mapped_ = o.size_ = 0;
        }
        return *this;
    }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T* data() { return static_cast<T*>(map_); }
    const T* data() const { return static_cast<const T*>(map_); }
    T& operator[](size_t i) { return data()[i]; }
    const T& operator[](size_t i) const { return data()[i]; }
    T& back() { return data()[size_ - 1]; }

    void push_back(const T& v) {
        if (size_ == Capacity()) Grow(size_ + 1);
        data()[size_++] = v;
    }
    void append(const T* p, size_t n) {
        if (n == 0) return;
        if (size_ + n > Capacity()) Grow(size_ + n);
        std::memcpy(data() + size_, p, n * sizeof(T));
        size_ += n;
    }
    // Grows with value-initialized elements, or drops the last ones.
    void resize(size_t n) {
        if (n > Capacity()) Grow(n);
        if (n > size_) std::fill(data() + size_, data() + n, T{});
        size_ = n;
    }
    // The bytes in memory: the pages written so far.
    size_t MemoryBytes() const { return (size_ * sizeof(T) + Page() - 1) / Page() * Page(); }

    // The elements as a std::vector of exactly their number; the column is empty afterwards.
    std::vector<T> TakeVector() {
        std::vector<T> out;
        out.reserve(size_);
        auto* bytes = static_cast<char*>(map_);
        size_t released = 0; // bytes of the mapping given back, from its start
        for (size_t at = 0; at < size_;) {
            const size_t n = std::min(size_ - at, std::max<size_t>(1, kChunk / sizeof(T)));
            out.insert(out.end(), data() + at, data() + at + n);
            at += n;
            const size_t copied = at * sizeof(T) / Page() * Page();
            if (copied > released) {
                munmap(bytes + released, copied - released);
                released = copied;
            }
        }
        if (map_ && mapped_ > released) munmap(bytes + released, mapped_ - released);
        map_ = nullptr;
        mapped_ = size_ = 0;
        return out;
    }

private:
    static size_t Page() {
        static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        return page;
    }
    static constexpr size_t kFirst = size_t(64) << 10; // bytes mapped at first (a multiple of any page size)
    static constexpr size_t kChunk = size_t(64) << 10; // bytes copied before they are given back

    size_t Capacity() const { return mapped_ / sizeof(T); }
    void Grow(size_t need) {
        if (need > SIZE_MAX / 2 / sizeof(T)) throw std::bad_alloc();
        size_t bytes = std::max({kFirst, Page(), mapped_ * 2});
        while (bytes / sizeof(T) < need) bytes *= 2;
        void* p = map_ ? mremap(map_, mapped_, bytes, MREMAP_MAYMOVE)
                       : mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        map_ = p;
        mapped_ = bytes;
    }
    void Release() {
        if (map_) munmap(map_, mapped_);
        map_ = nullptr;
        mapped_ = size_ = 0;
    }

    void* map_ = nullptr;
    size_t mapped_ = 0; // bytes
    size_t size_ = 0;   // elements
};

} // namespace quindle
