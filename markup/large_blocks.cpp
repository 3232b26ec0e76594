#include "markup/large_blocks.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

void AdviseLargeBlock([[maybe_unused]] void* p, [[maybe_unused]] size_t nBytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (nBytes < kLargeBlockBytes) return;
  constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
  const uintptr_t nStart = reinterpret_cast<uintptr_t>(p);
  const uintptr_t nFirst = (nStart + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t nLast = (nStart + nBytes) & ~(kLargePage - 1);
  // Only whole large pages inside the block: the advice must not reach
  // memory that is not ours. A refusal (large pages switched off) is no
  // error: the block is then ordinary memory.
  if (nLast > nFirst) madvise(reinterpret_cast<void*>(nFirst), nLast - nFirst, MADV_HUGEPAGE);
#endif
}

void ReserveDocumentText(std::u16string& strText, size_t nUnits) {
  strText.clear();
  strText.reserve(nUnits);
  AdviseLargeBlock(strText.data(), strText.capacity() * sizeof(char16_t));
}
