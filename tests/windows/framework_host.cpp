// FrameworkHost.exe: a Unicode ATL or MFC host in the Microsoft ABI, which
// passes its CString objects to WriteVardlix as they are. Compiled by
// clang-cl as C++ with atl_string_standin.h in place of atlstr.h, linked by
// lld-link against the package's Vardlix.lib, with no C runtime.
// Exit code 0 once the record is written.
#include "atl_string_standin.h"
// After the framework's headers, as in a project's pch.h.
#include "vardlix.h"

int main() {
  const CString strType(L"Info"), strLocation(L"FrameworkHost"), strOperation(L"Pass"), strParameters(L"class=CString"),
      strDescription(L"\x6846\x67B6\x5B57\x7B26\x4E32");  // "框架字符串"
  WriteVardlix(strType, strLocation, strOperation, strParameters, strDescription);
  return 0;
}
