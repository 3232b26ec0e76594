// A host program of the Vardlix library, small enough to copy.
//
// It loads the library at run time, as a host that treats logging as an
// optional add-on would: libvardlix.so through dlopen on Linux, Vardlix.dll
// through LoadLibraryW on Windows. It then writes a few records and sets the
// retention. The library keeps its files in a folder named after this
// program: its executable's path without the extension, followed by "Log"
// (build/linux/examples/vardlix-demoLog for the Linux build). Look at them
// with `vardlix show --folder <that folder>`.
#include <cstdint>
#include <cstdio>

#include "vardlix.h"

#if defined(_WIN32)
#include <windows.h>
#define VX(text) L##text  // VardlixChar is wchar_t on Windows
#else
#include <dlfcn.h>
#define VX(text) u##text  // and char16_t elsewhere
#endif

namespace {

using SetLogLifeFunction = int(VARDLIX_CALL*)(uint32_t);
using WriteVardlixFunction = void(VARDLIX_CALL*)(const CVardlixString&, const CVardlixString&, const CVardlixString&,
                                                 const CVardlixString&, const CVardlixString&);

struct CVardlixExports {
  SetLogLifeFunction pSetLogLife = nullptr;
  WriteVardlixFunction pWriteVardlix = nullptr;
};

// Loads the library and finds its two exports by name. The library stays
// loaded until the process ends, as a host's logging library usually does.
bool LoadVardlix(CVardlixExports& exports) {
#if defined(_WIN32)
  HMODULE hLibrary = LoadLibraryW(L"Vardlix.dll");
  if (!hLibrary) {
    std::fprintf(stderr, "vardlix-demo: cannot load Vardlix.dll (error %lu)\n", GetLastError());
    return false;
  }
  // GetProcAddress returns a generic function pointer; going through
  // void (*)() tells the compiler the cast to the real type is meant.
  using AnyFunction = void (*)();
  exports.pSetLogLife =
      reinterpret_cast<SetLogLifeFunction>(reinterpret_cast<AnyFunction>(GetProcAddress(hLibrary, "SetLogLife")));
  exports.pWriteVardlix =
      reinterpret_cast<WriteVardlixFunction>(reinterpret_cast<AnyFunction>(GetProcAddress(hLibrary, "WriteVardlix")));
#else
  // By name: the loader searches this program's run path, LD_LIBRARY_PATH
  // and the system's library folders.
  void* pLibrary = dlopen("libvardlix.so", RTLD_NOW | RTLD_LOCAL);
  if (!pLibrary) {
    std::fprintf(stderr, "vardlix-demo: cannot load libvardlix.so: %s\n", dlerror());
    return false;
  }
  exports.pSetLogLife = reinterpret_cast<SetLogLifeFunction>(dlsym(pLibrary, "SetLogLife"));
  exports.pWriteVardlix = reinterpret_cast<WriteVardlixFunction>(dlsym(pLibrary, "WriteVardlix"));
#endif
  if (!exports.pSetLogLife || !exports.pWriteVardlix) {
    std::fprintf(stderr, "vardlix-demo: the library lacks SetLogLife or WriteVardlix\n");
    return false;
  }
  return true;
}

// One record's five fields; the library adds the time.
struct CDemoRecord {
  const VardlixChar* szType;
  const VardlixChar* szLocation;
  const VardlixChar* szOperation;
  const VardlixChar* szParameters;
  const VardlixChar* szDescription;
};

const CDemoRecord kRecords[] = {
    {VX("Info"), VX("Main"), VX("Start"), VX("version=1.0.0"), VX("Demo host started")},
    {VX("信息"), VX("主窗口"), VX("打开文件"), VX("报表=二〇二四年度.xlsx"), VX("已打开报表，共 12 页")},
    {VX("Warning"), VX("Parser"), VX("Compare"), VX("a<b && c>d"), VX("Markup stays text: <tag> & \"quotes\"")},
    {VX("Debug"), VX("Cache"), VX("Flush"), VX(""), VX("Nothing to flush (no parameters)")},
    {VX("Error"), VX("Network"), VX("Connect"), VX("host=example.org port=443"),
     VX("Connection refused\r\nretried 3 times\r\nnext attempt in 30 s")},
};

}  // namespace

int main() {
  CVardlixExports vardlix;
  if (!LoadVardlix(vardlix)) return 1;

  for (const CDemoRecord& record : kRecords) {
    // The library takes string objects holding one pointer each.
    CVardlixString type = {record.szType}, location = {record.szLocation}, operation = {record.szOperation},
                   parameters = {record.szParameters}, description = {record.szDescription};
    vardlix.pWriteVardlix(type, location, operation, parameters, description);
  }

  // Keep a month of logs. The call also deletes files older than that.
  const uint32_t nDays = 30;
  if (vardlix.pSetLogLife(nDays) != 1) {
    std::fprintf(stderr, "vardlix-demo: the retention could not be set\n");
    return 1;
  }
  std::printf("vardlix-demo: wrote %u records and set the retention to %u days\n",
              static_cast<unsigned>(sizeof kRecords / sizeof kRecords[0]), static_cast<unsigned>(nDays));
  return 0;
}
