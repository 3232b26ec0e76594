// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

class CTempFolder {
 public:
  CTempFolder() {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    do {
      m_path = base / ("vardlix-test-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(m_path));
  }
  ~CTempFolder() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
  }
  CTempFolder(const CTempFolder&) = delete;
  CTempFolder& operator=(const CTempFolder&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  std::filesystem::path Path(const std::string& strName) const { return m_path / strName; }
  // The folder, or a name in it, as the seam takes paths.
  std::u16string Folder() const { return m_path.u16string(); }
  std::u16string File(const std::string& strName) const { return Path(strName).u16string(); }

  void WriteBytes(const std::string& strName, const std::string& strBytes) const {
    std::ofstream(Path(strName), std::ios::binary) << strBytes;
  }
  std::string ReadBytes(const std::string& strName) const {
    std::ifstream in(Path(strName), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  std::filesystem::path m_path;  // absolute path of the folder
};
