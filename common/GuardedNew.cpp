// The program's operator new and delete: malloc and free, with the memory guard's check
// (MemoryGuard.h) in between. Linked into every program of this project, never into a library,
// so that the libraries' allocations (GEOS's among them) pass through it as well.

#include <new>

#include "common/MemoryGuard.h"

namespace {

void* allocateOrThrow(std::size_t size) {
  for (;;) {
    if (void* block = vellumar::memory::detail::allocate(size)) return block;
    // A refusal of the guard is final; otherwise the standard retry through the new handler.
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr || vellumar::memory::detail::guarding()) throw std::bad_alloc();
    handler();
  }
}

void* allocateOrNull(std::size_t size) noexcept {
  try {
    return allocateOrThrow(size);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t size) {
  return allocateOrThrow(size);
}
void* operator new[](std::size_t size) {
  return allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocateOrNull(size);
}

void operator delete(void* block) noexcept {
  vellumar::memory::detail::deallocate(block);
}
void operator delete[](void* block) noexcept {
  vellumar::memory::detail::deallocate(block);
}
void operator delete(void* block, std::size_t) noexcept {
  vellumar::memory::detail::deallocate(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  vellumar::memory::detail::deallocate(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  vellumar::memory::detail::deallocate(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  vellumar::memory::detail::deallocate(block);
}
