// A holder that keeps the day's file open: a call waits for it as long as
// the file shows progress, and gives up once it has shown none for the share
// wait, so that a viewer or a hung holder cannot block the host; the records
// wait in the day's pending file for the first call that gets the file.
#include <chrono>
#include <thread>

#include "reliability_fixture.h"
#include "service/pending_records.h"

namespace {

class ShareWaitTest : public CReliabilityTest {
 protected:
  void SetUp() override {
    CReliabilityTest::SetUp();
    m_pFolder->Write("SettingInfo.xml", SettingsBytes(7));
    m_pFolder->Write(m_strDayName, LogBytes({{u"a", u"0"}}));
  }
  std::u16string DayPath() const { return m_pFolder->Path(m_strDayName).u16string(); }
  std::string PendingName() const { return Narrow(MakePendingLogName(FormatDateStamp())); }
  bool PendingExists() const { return std::filesystem::exists(m_pFolder->Path(PendingName())); }
};

TEST_F(ShareWaitTest, HolderThatNeverLetsGoCostsOneWaitAndLosesNoRecord) {
  CFile holder;
  ASSERT_TRUE(holder.Open(DayPath(), CFile::modeReadWriteDenyWrite));
  const std::string strBefore = m_pFolder->Read(m_strDayName);
  WriteRecord(u"b", u"1");  // a call that never gave up would hang the test here
  // Records are waiting already: the holder is not waited for again.
  const auto start = std::chrono::steady_clock::now();
  WriteRecord(u"c", u"2");
  WriteRecord(u"d", u"3");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kShareWaitMilliseconds));
  EXPECT_EQ(m_pFolder->Read(m_strDayName), strBefore);
  // On disk, in call order, in the format of a day's file.
  EXPECT_EQ(m_pFolder->Read(PendingName()), LogBytes({{u"b", u"1"}, {u"c", u"2"}, {u"d", u"3"}}));
  holder.Close();
  WriteRecord(u"e", u"4");
  EXPECT_EQ(m_pFolder->Read(m_strDayName),
            LogBytes({{u"a", u"0"}, {u"b", u"1"}, {u"c", u"2"}, {u"d", u"3"}, {u"e", u"4"}}));
  EXPECT_FALSE(PendingExists());
}

// A pending file takes records while its text is under the bound; the
// records past it are dropped, and those kept are moved whole, in order,
// with the next call that gets the file.
TEST_F(ShareWaitTest, RecordsPastTheBoundAreDroppedAndTheRestKeptInOrder) {
  CFile holder;
  ASSERT_TRUE(holder.Open(DayPath(), CFile::modeReadWriteDenyWrite));
  const std::u16string strLarge(1024 * 1024, u'x');
  const size_t nKept = kMaxPendingUnits / strLarge.size();
  for (size_t n = 1; n <= nKept + 2; ++n) WriteRecord(Widen(std::to_string(n)) + strLarge, u"1");
  holder.Close();
  WriteRecord(u"c", u"0");
  std::vector<CLoggedRecord> aExpected = {{u"a", u"0"}};
  for (size_t n = 1; n <= nKept; ++n) aExpected.push_back({Widen(std::to_string(n)) + strLarge, u"1"});
  aExpected.push_back({u"c", u"0"});
  EXPECT_EQ(m_pFolder->Read(m_strDayName), LogBytes(aExpected));
}

TEST_F(ShareWaitTest, HolderThatKeepsChangingTheFileIsWaitedForPastTheShareWait) {
  CFile holder;
  ASSERT_TRUE(holder.Open(DayPath(), CFile::modeReadWriteDenyWrite));
  std::thread worker([&holder] {
    // One and a half times the share wait in all, with a change every
    // eighth of it: zero units at the end, which no reader takes for text.
    for (int n = 0; n < 12; ++n) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kShareWaitMilliseconds / 8));
      holder.Seek(holder.GetLength());
      holder.Write("\0\0", 2);
    }
    holder.Close();
  });
  WriteRecord(u"b", u"1");
  worker.join();
  // The record is in, and the zero units the holder left are gone.
  EXPECT_EQ(m_pFolder->Read(m_strDayName), LogBytes({{u"a", u"0"}, {u"b", u"1"}}));
}

}  // namespace
