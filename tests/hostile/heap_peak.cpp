#include "heap_peak.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// malloc_usable_size answers for the sanitizer's allocator as well, with the
// size that was asked for, so the figures hold in every build.
std::atomic<size_t> g_nHeapInUse{0};
std::atomic<size_t> g_nHeapPeak{0};

void CountAllocation(void* p) {
  const size_t nBytes = malloc_usable_size(p);
  const size_t nInUse = g_nHeapInUse.fetch_add(nBytes) + nBytes;
  size_t nPeak = g_nHeapPeak.load();
  while (nInUse > nPeak && !g_nHeapPeak.compare_exchange_weak(nPeak, nInUse)) {
  }
}

void* Allocate(size_t nBytes) {
  void* p = std::malloc(nBytes != 0 ? nBytes : 1);
  if (p != nullptr) CountAllocation(p);
  return p;
}

void Release(void* p) {
  if (p == nullptr) return;
  g_nHeapInUse.fetch_sub(malloc_usable_size(p));
  std::free(p);
}

}  // namespace

CHeapPeak::CHeapPeak() : m_nBaseline(g_nHeapInUse.load()) { g_nHeapPeak.store(m_nBaseline); }

size_t CHeapPeak::PeakBytes() const {
  const size_t nPeak = g_nHeapPeak.load();
  return nPeak > m_nBaseline ? nPeak - m_nBaseline : 0;
}

// The replaceable allocation functions; the aligned forms are left to the
// runtime, as nothing measured here asks for over-aligned storage.
void* operator new(size_t nBytes) {
  if (void* p = Allocate(nBytes)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t nBytes) {
  if (void* p = Allocate(nBytes)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t nBytes, const std::nothrow_t&) noexcept { return Allocate(nBytes); }
void* operator new[](size_t nBytes, const std::nothrow_t&) noexcept { return Allocate(nBytes); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
