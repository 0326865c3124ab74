#include "failing_allocations.hpp"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

// One test thread arms the counters at a time.
bool armed = false;
int failAt = -1;
int madeCount = 0;
int liveCount = 0;

void* allocate(std::size_t size) {
    if (armed) {
        if (madeCount == failAt) throw std::bad_alloc();
        ++madeCount;
        ++liveCount;
    }
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    if (armed) --liveCount;
    std::free(p);
}

}  // namespace

FailingAllocations::FailingAllocations(int fail) {
    armed = true;
    failAt = fail;
    madeCount = 0;
    liveCount = 0;
}

FailingAllocations::~FailingAllocations() { armed = false; }

int FailingAllocations::made() const { return madeCount; }
int FailingAllocations::live() const { return liveCount; }

// Every form the code under test and the standard library may call; the
// sanitizers' own versions would otherwise free what these allocate.
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
