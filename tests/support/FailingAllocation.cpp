#include "FailingAllocation.h"

#include <cstdlib>
#include <limits>
#include <new>

namespace {

thread_local size_t t_largestAllowed = std::numeric_limits<size_t>::max();

void* Allocate(size_t size) {
    if (size > t_largestAllowed) throw std::bad_alloc();
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}

void* AllocateOrNull(size_t size) noexcept {
    return size > t_largestAllowed ? nullptr : std::malloc(size == 0 ? 1 : size);
}

}  // namespace

namespace failing_allocation {

FailAbove::FailAbove(size_t bytes) {
    t_largestAllowed = bytes;
}

FailAbove::~FailAbove() {
    t_largestAllowed = std::numeric_limits<size_t>::max();
}

}  // namespace failing_allocation

void* operator new(size_t size) {
    return Allocate(size);
}
void* operator new[](size_t size) {
    return Allocate(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
