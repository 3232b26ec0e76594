// The library's two exported functions. A host written in another language
// cannot catch a C++ exception, so none leaves them: what one means at this
// boundary is stated at each function.
#define VARDLIX_BUILDING_LIBRARY
#include "vardlix.h"

#include "format/host_record.h"
#include "platform/platform_files.h"
#include "service/library_calls.h"

static_assert(sizeof(VardlixChar) == sizeof(char16_t), "the host's wide characters are UTF-16 code units");

namespace {

// The one place where the host's character type becomes ours: wchar_t on
// Windows and char16_t elsewhere, both 16-bit UTF-16 code units.
const char16_t* TextOf(const CVardlixString& str) {
  return str.m_pszData == nullptr ? u"" : reinterpret_cast<const char16_t*>(str.m_pszData);
}

}  // namespace

// Returns 0 when an exception ended the call before the new retention was
// written and applied; once it is applied the result is 1 whatever follows.
extern "C" VARDLIX_API int VARDLIX_CALL SetLogLife(uint32_t nDays) {
  try {
    return ChangeLogLife(nDays);
  } catch (...) {
    return 0;
  }
}

// An exception drops the record; every file has been closed on the way out.
extern "C" VARDLIX_API void VARDLIX_CALL WriteVardlix(const CVardlixString& strType, const CVardlixString& strLocation,
                                                      const CVardlixString& strOperation,
                                                      const CVardlixString& strParameters,
                                                      const CVardlixString& strDescription) {
  try {
    // The host's strings are copied before any lock is taken or any file
    // opened. A bad pointer of the host's faults right here, and when the
    // host's own crash guard resumes after it, nothing of the library is
    // left held: no lock that the next call would wait on for ever.
    CHostRecord record = MakeHostRecord(ReadClock(), TextOf(strType), TextOf(strLocation), TextOf(strOperation),
                                        TextOf(strParameters), TextOf(strDescription));
    WriteHostRecord(record);
  } catch (...) {
  }
}
