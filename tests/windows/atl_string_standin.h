// A stand-in for ATL's atlstr.h in the shape that vardlix.h relies on: the
// header's include guard, and CStringW as a CStringT<wchar_t, ...> whose
// only member, inherited from CSimpleStringT, points to the characters,
// which follow a header of the string's own in one allocation. Like the
// real class it owns its text and has no conversion to CVardlixString.
// Used by framework_host.cpp, which has no C runtime: memory comes from the
// process heap. (windows.h, from MinGW, does not compile as C++ under
// clang-cl: its intrinsics headers clash; the three calls are declared here.)
#pragma once
#define __ATLSTR_H__

#include <stddef.h>

extern "C" {
__declspec(dllimport) void* __stdcall GetProcessHeap();
__declspec(dllimport) void* __stdcall HeapAlloc(void* hHeap, unsigned long nFlags, size_t nBytes);
__declspec(dllimport) int __stdcall HeapFree(void* hHeap, unsigned long nFlags, void* pMemory);
}

namespace ATL {

struct CStringData {
  int nDataLength;   // characters, without the terminating zero
  int nAllocLength;  // room for characters, without the terminating zero
  long nRefs;
};

template <typename BaseType>
class CSimpleStringT {
 public:
  typedef BaseType XCHAR;
  typedef BaseType* PXSTR;
  typedef const BaseType* PCXSTR;

  explicit CSimpleStringT(PCXSTR pszSrc) {
    int nLength = 0;
    while (pszSrc[nLength] != 0) ++nLength;
    auto* pData =
        static_cast<CStringData*>(HeapAlloc(GetProcessHeap(), 0, sizeof(CStringData) + (nLength + 1) * sizeof(XCHAR)));
    pData->nDataLength = pData->nAllocLength = nLength;
    pData->nRefs = 1;
    m_pszData = reinterpret_cast<PXSTR>(pData + 1);
    for (int i = 0; i <= nLength; ++i) m_pszData[i] = pszSrc[i];
  }
  ~CSimpleStringT() { HeapFree(GetProcessHeap(), 0, reinterpret_cast<CStringData*>(m_pszData) - 1); }
  CSimpleStringT(const CSimpleStringT&) = delete;
  CSimpleStringT& operator=(const CSimpleStringT&) = delete;

  operator PCXSTR() const { return m_pszData; }

 private:
  PXSTR m_pszData;
};

template <typename BaseType>
struct StrTraitATL {};

template <typename BaseType, class StringTraits>
class CStringT : public CSimpleStringT<BaseType> {
 public:
  CStringT(const BaseType* pszSrc) : CSimpleStringT<BaseType>(pszSrc) {}
};

typedef CStringT<wchar_t, StrTraitATL<wchar_t>> CAtlStringW;

}  // namespace ATL

typedef ATL::CAtlStringW CStringW;
typedef CStringW CString;  // a Unicode build
