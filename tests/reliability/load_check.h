// Checks a day's file that many writers filled at once: every record of
// every writer exactly once, each writer's records in the order it wrote
// them, the whole in the writer's exact layout.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "log_text_check.h"

// Writer names "p<process>t<thread>"; each writes sequence numbers 0 .. n-1.
inline std::u16string LoadWriterName(int nProcess, int nThread) {
  return Widen("p" + std::to_string(nProcess) + "t" + std::to_string(nThread));
}

inline void ExpectEveryRecordOnceInOrder(const std::vector<CLoggedRecord>& aRecords, int nProcesses, int nThreads,
                                         int nRecords) {
  EXPECT_EQ(aRecords.size(), static_cast<size_t>(nProcesses) * nThreads * nRecords);
  // The next sequence number each writer must show.
  std::map<std::u16string, int> mapNext;
  for (int p = 0; p < nProcesses; ++p) {
    for (int t = 0; t < nThreads; ++t) mapNext[LoadWriterName(p, t)] = 0;
  }
  for (const CLoggedRecord& record : aRecords) {
    const auto it = mapNext.find(record.m_strWriter);
    ASSERT_NE(it, mapNext.end()) << "record of an unknown writer " << Narrow(record.m_strWriter);
    ASSERT_EQ(record.m_strSequence, Widen(std::to_string(it->second)))
        << Narrow(record.m_strWriter) << " lost, repeated or reordered a record";
    ++it->second;
  }
  for (const auto& writer : mapNext) EXPECT_EQ(writer.second, nRecords) << Narrow(writer.first);
}

inline void ExpectEveryRecordOnceInOrder(const std::u16string& strText, const std::u16string& strTime, int nProcesses,
                                         int nThreads, int nRecords) {
  std::vector<CLoggedRecord> aRecords;
  std::string strWhy;
  ASSERT_TRUE(ReadLoggedRecords(strText, strTime, aRecords, strWhy)) << strWhy;
  ExpectEveryRecordOnceInOrder(aRecords, nProcesses, nThreads, nRecords);
}
