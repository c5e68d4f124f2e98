#pragma once

#include <cstddef>

namespace tav::test {

// Counts heap allocations, and the bytes they request, made by the current thread while an
// instance is alive. Test and benchmark binaries replace the global operator new to feed it;
// real-time code is checked by wrapping the call under test in a scope and expecting zero.
class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    // Allocations seen since construction.
    std::size_t count() const;

    // Bytes requested since construction.
    std::size_t bytes() const;

private:
    std::size_t startCount;
    std::size_t startBytes;
    bool wasCounting;
};

} // namespace tav::test
