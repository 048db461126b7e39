#pragma once

#include <cstddef>

// The memory guard of every allocation the program makes through operator new, so that work whose
// memory comes in many small pieces (polygon covers, GEOS geometries, traced lines, table rows)
// fails with the out-of-memory message as grids do, instead of having the kernel kill the program
// at its memory limit.
//
// While a Guard lives on a thread, each allocation there is checked against the usable memory
// (common/Memory.h): a large block (from memory::kLargeBlock) before it is made, small ones every
// few megabytes they add up to. An allocation that does not fit, or that malloc cannot give, is
// refused with std::bad_alloc, and allocationRefused() then tells the caller that the failure was
// one of memory, also where a library turned the exception into an error code of its own (GEOS's
// C API returns null) or went on with another method (GEOS falls back to its older overlay, which
// is refused in turn). Small allocations in between pass, so that the failing operation can
// unwind, free and say why.
//
// The check lives in the program's replacement of operator new (GuardedNew.cpp), which every
// program of this project links; without it a guard changes nothing.
namespace vellumar::memory {

// Checks the allocations of this thread while it lives. Guards nest: an inner guard shares the
// state of the outermost, which starts it afresh.
class Guard {
 public:
  Guard();
  ~Guard();
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;
};

// Suspends the guard of this thread while it lives, around calls into libraries that cannot pass
// an exception from inside them (GDAL runs C code that would be left holding locks and memory).
// Their large buffers of our own are claimed in advance instead.
class Unguarded {
 public:
  Unguarded();
  ~Unguarded();
  Unguarded(const Unguarded&) = delete;
  Unguarded& operator=(const Unguarded&) = delete;
};

// Whether the guard of this thread has refused an allocation, or seen one fail.
bool allocationRefused();

// Throws std::bad_alloc when allocationRefused(): for the places where a library reports a
// failure that may have been a refused allocation.
void throwIfRefused();

namespace detail {

// The block of size bytes that the replacement operator new returns; null when the guard refuses
// it or malloc has no memory left.
void* allocate(std::size_t size) noexcept;
// Frees a block of allocate(), giving back what the ledger counted for it.
void deallocate(void* block) noexcept;
// Whether the guard of this thread is checking allocations (a failure then must not be retried).
bool guarding() noexcept;
// Records on this thread's guard that an allocation was refused elsewhere on its behalf (by a
// block of a parallel loop it started, run on another thread).
void noteRefused() noexcept;

}  // namespace detail
}  // namespace vellumar::memory
