#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

#include "common/LargeBlocks.h"
#include "common/Memory.h"

namespace vellumar::grid {

// Allocator of node and coefficient arrays. Large arrays are blocks mapped on their own on huge
// pages where the system allows it (common/LargeBlocks.h), which cuts the page-fault cost of
// filling a fresh 100 MB grid by more than half, and which a run of tiles reuses; and a vector
// sized with n elements is left uninitialised (default-initialised), because every kernel writes
// each node anyway. Use assign(n, 0.0) where zeros are wanted. Every large array is claimed from
// the memory the program may use first (common/Memory.h), so a grid that cannot fit fails at once
// with std::bad_alloc instead of being killed by the kernel later.
template <class T>
struct NodeAllocator {
  using value_type = T;

  NodeAllocator() = default;
  template <class U>
  NodeAllocator(const NodeAllocator<U>&) {}

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = n * sizeof(T);
    if (bytes >= memory::kMappedBlock) {
      void* block = memory::takeBlock(bytes);
      if (block == nullptr) throw std::bad_alloc();
      return static_cast<T*>(block);
    }
    if (!memory::claim(bytes)) throw std::bad_alloc();
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) {
      memory::release(bytes);
      throw std::bad_alloc();
    }
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes >= memory::kMappedBlock) return memory::giveBlock(p);
    memory::release(bytes);
    std::free(p);
  }

  template <class U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  friend bool operator==(const NodeAllocator&, const NodeAllocator&) { return true; }
};

// Flat storage of node values and spline coefficients.
using NodeVector = std::vector<double, NodeAllocator<double>>;

}  // namespace vellumar::grid
