// Replaces the global operator new and delete of the test program, so that a
// test can count what a piece of code allocates with them and make the k-th
// allocation fail with std::bad_alloc, as the heap does when memory runs out.
#pragma once

class FailingAllocations {
public:
    // Counts the allocations made while the object lives; the one numbered
    // `failAt` (from 0) throws. -1: none does.
    explicit FailingAllocations(int failAt);
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;

    int made() const;  // allocations that succeeded
    int live() const;  // of those, not yet released
};
