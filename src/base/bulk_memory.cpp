#include "base/bulk_memory.h"

#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace qern {

namespace {

// Below this, the heap's own pages serve better.
constexpr std::size_t BULK_THRESHOLD_BYTES = 64 * 1024;

}  // namespace

void BulkDelete::operator()(double* p) const {
    if (p == nullptr) return;
#if defined(__linux__) && defined(MAP_POPULATE)
    if (mapped_bytes != 0) {
        munmap(p, mapped_bytes);
        return;
    }
#endif
    delete[] p;
}

BulkDoubles allocate_bulk_zeroed(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(double)) return BulkDoubles{};
    const std::size_t bytes = count * sizeof(double);
#if defined(__linux__) && defined(MAP_POPULATE)
    if (bytes >= BULK_THRESHOLD_BYTES) {
        // Anonymous pages are zero.
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (p != MAP_FAILED) return BulkDoubles(static_cast<double*>(p), BulkDelete{bytes});
    }
#endif
    return BulkDoubles(new (std::nothrow) double[count](), BulkDelete{});
}

}  // namespace qern
