// Links libvardlix directly (found through find_package) and calls both
// exports from C++. Exits with 0 when the results are those documented.
#include <vardlix.h>

int main() {
  const CVardlixString strType = {u"Info"};
  const CVardlixString strText = {u"installed"};
  WriteVardlix(strType, strText, strText, strText, strText);
  return SetLogLife(36501) == 0 && SetLogLife(10) == 1 ? 0 : 1;
}
