// What the tests of the log service share: a fresh log folder per test, a
// fixed clock, the default retention, and the file encoding in bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "library_frame.h"
#include "platform_files.h"
#include "temp_folder.h"

// 8 April 2011, 09:05:03 UTC (the tests run with TZ=UTC).
constexpr int64_t kApril8th2011At090503 = 1302253503;

// The UTF-16LE bytes of a text, with the byte-order mark in front.
inline std::string EncodeDocument(std::u16string_view strText) {
  std::string strBytes = "\xFF\xFE";
  for (char16_t c : strText) {
    strBytes += static_cast<char>(c & 0xFF);
    strBytes += static_cast<char>(c >> 8);
  }
  return strBytes;
}

// The text of UTF-16LE bytes after a byte-order mark; "<no mark>" without.
inline std::u16string DecodeDocument(const std::string& strBytes) {
  if (strBytes.size() < 2 || strBytes.compare(0, 2, "\xFF\xFE") != 0) return u"<no mark>";
  std::u16string strText;
  for (size_t i = 2; i + 1 < strBytes.size(); i += 2) {
    strText += static_cast<char16_t>(static_cast<unsigned char>(strBytes[i]) |
                                     (static_cast<unsigned char>(strBytes[i + 1]) << 8));
  }
  return strText;
}

class CServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_strSavedFolder = g_strLogFolder;
    g_strLogFolder = m_folder.Folder();
    g_nLogLife.store(kDefaultLogLife);
    SetClockForTesting(kApril8th2011At090503);
  }
  void TearDown() override {
    ResetClockForTesting();
    ResetHostPathForTesting();
    g_strLogFolder = m_strSavedFolder;
    g_nLogLife.store(kDefaultLogLife);
  }

  std::u16string ReadText(const std::string& strName) const { return DecodeDocument(m_folder.ReadBytes(strName)); }
  void WriteText(const std::string& strName, std::u16string_view strText) const {
    m_folder.WriteBytes(strName, EncodeDocument(strText));
  }
  bool Exists(const std::string& strName) const { return std::filesystem::exists(m_folder.Path(strName)); }

  CTempFolder m_folder;
  std::u16string m_strSavedFolder;
};
