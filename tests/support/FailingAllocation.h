// Makes allocations fail on demand, to show that an allocation failure inside the library or
// the HTTP client comes back as an error and never as an exception. Linking
// FailingAllocation.cpp replaces the global operator new of the whole test program, shared
// libraries included (they bind to the executable's); new and delete both go to malloc and
// free, so sanitizers still see matching pairs.
#pragma once

#include <cstddef>

namespace failing_allocation {

// While alive, every allocation of more than `bytes` made on this thread throws
// std::bad_alloc (a nothrow new returns null).
class FailAbove {
  public:
    explicit FailAbove(size_t bytes);
    ~FailAbove();
    FailAbove(const FailAbove&) = delete;
    FailAbove& operator=(const FailAbove&) = delete;
};

}  // namespace failing_allocation
