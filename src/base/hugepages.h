#pragma once
// Large working arrays backed by huge pages where the system offers them on request: a
// million-stroke plot order touches a few hundred megabytes, and taking them 4 kB at a time
// costs a quarter of its run in page faults.

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace base {

// Asks for huge pages under the 2 MiB-aligned part of [p, p + bytes) not yet touched.
inline void AdviseHugePages(const void* p, std::size_t bytes)
{
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t last = (start + bytes) & ~(kHuge - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

// Room for n elements, on huge pages when it is large; nothing touched yet.
template <class T>
void ReserveHuge(std::vector<T>& v, std::size_t n)
{
    v.reserve(n);
    if (n * sizeof(T) >= (std::size_t{8} << 20))
        AdviseHugePages(v.data(), v.capacity() * sizeof(T));
}

}  // namespace base
