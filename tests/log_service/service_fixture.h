// What the tests of the log service share: a fresh log folder per test, a
// fixed clock, the default retention, and the file encoding in bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "format/document_file.h"
#include "format/log_layout.h"
#include "format/time_stamps.h"
#include "platform/platform_files.h"
#include "service/daily_log.h"
#include "service/library_calls.h"
#include "service/library_lifecycle.h"
#include "service/library_state.h"
#include "service/log_folder.h"
#include "service/settings.h"
#include "support/document_bytes.h"
#include "support/library_state_reset.h"
#include "support/temp_folder.h"

// 8 April 2011, 09:05:03 UTC (the tests run with TZ=UTC).
constexpr int64_t kApril8th2011At090503 = 1302253503;

class CServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_strSavedFolder = LogFolder();
    LogFolder() = m_folder.Folder();
    g_nLogLife.store(kDefaultLogLife);
    SetClockForTesting(kApril8th2011At090503);
  }
  void TearDown() override { ResetLibraryAfterTest(m_strSavedFolder); }

  std::u16string ReadText(const std::string& strName) const { return DecodeDocument(m_folder.ReadBytes(strName)); }
  void WriteText(const std::string& strName, std::u16string_view strText) const {
    m_folder.WriteBytes(strName, EncodeDocument(strText));
  }
  bool Exists(const std::string& strName) const { return std::filesystem::exists(m_folder.Path(strName)); }

  CTempFolder m_folder;
  std::u16string m_strSavedFolder;
};
