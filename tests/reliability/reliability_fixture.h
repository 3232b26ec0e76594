// What the in-process reliability tests share: a fresh folder with the log
// folder "hostLog" in it (the folder a host "host.exe" there would get), a
// fixed clock 30 days ahead of the files' own times, so that every file made
// during a test is 30 days old to the purge, and calls through the exports.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

#include "format/document_file.h"
#include "format/log_layout.h"
#include "format/time_stamps.h"
#include "log_text_check.h"
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
#include "vardlix.h"

constexpr int64_t kSecondsPerDayInTests = 86400;

// Calls WriteVardlix as a host does: a record with the writer's name as its
// location and its sequence number as its operation, the rest empty.
inline void WriteRecord(const std::u16string& strWriter, const std::u16string& strSequence) {
  static_assert(sizeof(VardlixChar) == sizeof(char16_t), "UTF-16 code units");
  const CVardlixString empty{reinterpret_cast<const VardlixChar*>(u"")};
  const CVardlixString writer{reinterpret_cast<const VardlixChar*>(strWriter.c_str())};
  const CVardlixString sequence{reinterpret_cast<const VardlixChar*>(strSequence.c_str())};
  WriteVardlix(empty, writer, sequence, empty, empty);
}

// A log folder for one run of an operation, made afresh each time.
class CLogFolder {
 public:
  CLogFolder() { std::filesystem::create_directory(Path()); }

  std::filesystem::path Path() const { return m_folder.Path("hostLog"); }
  std::filesystem::path Path(const std::string& strName) const { return Path() / strName; }
  // What the library derives its log folder from.
  std::u16string HostPath() const { return m_folder.File("host.exe"); }

  void Write(const std::string& strName, const std::string& strBytes) const {
    m_folder.WriteBytes("hostLog/" + strName, strBytes);
  }
  std::string Read(const std::string& strName) const { return m_folder.ReadBytes("hostLog/" + strName); }

 private:
  CTempFolder m_folder;
};

class CReliabilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_strSavedFolder = LogFolder();
    SetClockForTesting(static_cast<int64_t>(std::time(nullptr)) + 30 * kSecondsPerDayInTests);
    m_strDayName = Narrow(MakeLogName());
    m_strTime = FormatTimeStamp();
    UseFolder(std::make_unique<CLogFolder>());
  }
  void TearDown() override {
    ResetFileFaultsForTesting();
    ResetLibraryAfterTest(m_strSavedFolder);
  }

  // Makes pFolder the library's log folder, with the default retention.
  void UseFolder(std::unique_ptr<CLogFolder> pFolder) {
    m_pFolder = std::move(pFolder);
    LogFolder() = m_pFolder->Path().u16string();
    SetHostPathForTesting(m_pFolder->HostPath());
    g_nLogLife.store(kDefaultLogLife);
  }

  static std::u16string MakeLogName() { return MakeDailyLogName(FormatDateStamp()); }
  static std::string SettingsBytes(int32_t nDays) { return EncodeDocument(BuildSettingsText(nDays)); }
  std::string LogBytes(const std::vector<CLoggedRecord>& aRecords) const {
    return EncodeDocument(LogText(m_strTime, aRecords));
  }

  std::unique_ptr<CLogFolder> m_pFolder;
  std::string m_strDayName;  // today's file under the fixed clock
  std::u16string m_strTime;  // the time stamp every record gets
  std::u16string m_strSavedFolder;
};
