// A host program as a customer would write one: it loads libvardlix.so at
// run time, looks up the two exports and calls them as its arguments say.
//   test_host <library> [write <type> <location> <operation> <parameters> <description>]...
//                       [life <days>]... [exit]
// Prints "life <result>" for each SetLogLife. Arguments are ASCII. "exit"
// ends the process at once with exit(0), without dlclose, as most hosts end.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/test_text.h"
#include "vardlix.h"

namespace {

using SetLogLifeFunction = int (*)(uint32_t);
using WriteVardlixFunction = void (*)(const CVardlixString&, const CVardlixString&, const CVardlixString&,
                                      const CVardlixString&, const CVardlixString&);

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  void* pLibrary = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (pLibrary == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  auto pSetLogLife = reinterpret_cast<SetLogLifeFunction>(dlsym(pLibrary, "SetLogLife"));
  auto pWriteVardlix = reinterpret_cast<WriteVardlixFunction>(dlsym(pLibrary, "WriteVardlix"));
  if (pSetLogLife == nullptr || pWriteVardlix == nullptr) return 3;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "life") == 0 && i + 1 < argc) {
      std::printf("life %d\n", pSetLogLife(static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10))));
      i += 1;
    } else if (std::strcmp(argv[i], "exit") == 0) {
      std::fflush(stdout);
      std::exit(0);
    } else if (std::strcmp(argv[i], "write") == 0 && i + 5 < argc) {
      const std::u16string aText[5] = {Widen(argv[i + 1]), Widen(argv[i + 2]), Widen(argv[i + 3]), Widen(argv[i + 4]),
                                       Widen(argv[i + 5])};
      const CVardlixString aArgument[5] = {
          {aText[0].c_str()}, {aText[1].c_str()}, {aText[2].c_str()}, {aText[3].c_str()}, {aText[4].c_str()}};
      pWriteVardlix(aArgument[0], aArgument[1], aArgument[2], aArgument[3], aArgument[4]);
      i += 5;
    } else {
      return 4;
    }
  }
  std::fflush(stdout);
  return dlclose(pLibrary) == 0 ? 0 : 5;
}
