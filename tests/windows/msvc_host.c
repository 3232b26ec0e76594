/* MsvcHost.exe: a host in the Microsoft ABI, as an MSVC-built program is. It
 * is compiled by clang-cl for i686-pc-windows-msvc and linked by lld-link
 * against the package's Vardlix.lib, with no C runtime at all: the import
 * library and the header are all it takes of the library.
 * Exit code 0 once a record is written and SetLogLife(7) has returned 1. */
#include "vardlix.h"

int main(void) {
  CVardlixString strType = {L"Info"};
  CVardlixString strLocation = {L"MsvcHost"};
  CVardlixString strOperation = {L"Link"};
  CVardlixString strParameters = {L"lib=Vardlix.lib"};
  CVardlixString strDescription = {L"\x5FAE\x8F6F\x94FE\x63A5\x5668"}; /* "微软链接器" */
  WriteVardlix(&strType, &strLocation, &strOperation, &strParameters, &strDescription);
  return SetLogLife(7) == 1 ? 0 : 1;
}
