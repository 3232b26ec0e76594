// What the log-service fuzz targets share: a scratch folder of their own,
// preferably in memory, files written into it byte for byte, and a check
// that stops the run with a crash the fuzzer records.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

inline void Require(bool bCondition) {
  if (!bCondition) std::abort();
}

class CScratchFolder {
 public:
  CScratchFolder() {
    const std::filesystem::path shared = "/dev/shm";
    const std::filesystem::path base =
        std::filesystem::is_directory(shared) ? shared : std::filesystem::temp_directory_path();
    m_path = base / ("vardlix-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(m_path);
  }
  ~CScratchFolder() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
  }
  CScratchFolder(const CScratchFolder&) = delete;
  CScratchFolder& operator=(const CScratchFolder&) = delete;

  std::filesystem::path Path(const std::string& strName) const { return m_path / strName; }
  std::u16string File(const std::string& strName) const { return Path(strName).u16string(); }
  std::u16string Folder() const { return m_path.u16string(); }

  void WriteBytes(const std::string& strName, const void* pData, size_t nSize) const {
    std::ofstream(Path(strName), std::ios::binary | std::ios::trunc)
        .write(static_cast<const char*>(pData), static_cast<std::streamsize>(nSize));
  }
  std::string ReadBytes(const std::string& strName) const {
    std::ifstream in(Path(strName), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  std::filesystem::path m_path;  // removed with everything in it at exit
};

// One folder for the whole run: made on first use, removed at exit.
inline const CScratchFolder& Scratch() {
  static const CScratchFolder s_folder;
  return s_folder;
}

// The bytes the library writes for a text: FF FE, then UTF-16LE.
inline std::string DocumentBytes(const std::u16string& strText) {
  std::string strBytes = "\xFF\xFE";
  for (char16_t c : strText) {
    strBytes += static_cast<char>(c & 0xFF);
    strBytes += static_cast<char>(c >> 8);
  }
  return strBytes;
}
