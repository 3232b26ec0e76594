#include "sample_logs.h"

#include <cstdio>

#if defined(__unix__)
#include <sys/resource.h>
#endif

namespace {

// Each row is one record's five arguments; records cycle through the rows.
// With the markup around them a record takes about 450 bytes on average, the
// size of the records of a busy service's log.
const char16_t* const kFields[][5] = {
    {u"Info", u"ReportService", u"OpenDocument", u"file=D:\\Reports\\2026\\quarterly-summary.xml; mode=read",
     u"Opened the quarterly summary report for user operator01 in 12 ms; 3 sheets, 418 rows"},
    {u"\u9519\u8bef", u"\u6570\u636e\u5e93\u8fde\u63a5\u6c60", u"\u5efa\u7acb\u8fde\u63a5",
     u"\u670d\u52a1\u5668=db01.internal:5432; \u6570\u636e\u5e93=orders; \u8d85\u65f6=30",
     u"\u8fde\u63a5\u6570\u636e\u5e93\u5931\u8d25\uff1a\u670d\u52a1\u5668\u6ca1\u6709\u5728\u89c4\u5b9a"
     u"\u65f6\u95f4\u5185\u54cd\u5e94\uff0c\u5c06\u5728\u4e94\u79d2\u540e\u91cd\u8bd5\uff08\u7b2c\u4e09"
     u"\u6b21\u5c1d\u8bd5\uff09 error=ETIMEDOUT"},
    {u"Warning", u"InputParser", u"CheckRange", u"value=a<b && c>d; limit=100; field=\"temperature\"",
     u"Value \"x\" <out of range> & clipped to the nearest allowed limit before it was stored in the table"},
    {u"Debug", u"", u"Tick", u"", u""},
    {u"Info", u"Network", u"SendBlock", u"bytes=1048576; peer=10.0.0.7:8080; channel=replication; attempt=1",
     u"Sent the block in 12 ms\r\nsecond line of the description, with the queue length (17) and the window (64 KB)"},
};

std::u16string Element(const char16_t* szName, const std::u16string& strData) {
  if (strData.empty()) return u"<" + std::u16string(szName) + u"/>\r\n";
  std::u16string strEscaped;
  for (char16_t c : strData) {
    if (c == u'<') strEscaped += u"&lt;";
    else if (c == u'&') strEscaped += u"&amp;";
    else if (c == u'>') strEscaped += u"&gt;";
    else strEscaped += c;
  }
  return u"<" + std::u16string(szName) + u">" + strEscaped + u"</" + szName + u">\r\n";
}

std::u16string TimeStamp(int nRecord) {
  char szStamp[32];
  std::snprintf(szStamp, sizeof szStamp, "2026.12.07 %02d:%02d:%02d", nRecord / 3600 % 24, nRecord / 60 % 60,
                nRecord % 60);
  return std::u16string(szStamp, szStamp + 19);
}

}  // namespace

const char16_t* SampleField(int nRecord, int nField) {
  return kFields[nRecord % (sizeof kFields / sizeof kFields[0])][nField];
}

std::u16string MakeDailyLogText(int nRecords) {
  static const char16_t* const kNames[] = {u"\u7c7b\u578b", u"\u4f4d\u7f6e", u"\u64cd\u4f5c", u"\u53c2\u6570",
                                           u"\u63cf\u8ff0"};
  std::u16string strText = u"<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n";
  if (nRecords == 0) return strText + u"<\u65e5\u5fd7/>\r\n";
  strText += u"<\u65e5\u5fd7>\r\n";
  for (int n = 0; n < nRecords; ++n) {
    strText += u"<\u8bb0\u5f55>\r\n";
    strText += Element(u"\u65f6\u95f4", TimeStamp(n));
    for (int nField = 0; nField < 5; ++nField) strText += Element(kNames[nField], SampleField(n, nField));
    strText += u"</\u8bb0\u5f55>\r\n";
  }
  return strText + u"</\u65e5\u5fd7>\r\n";
}

int64_t CountMinorFaults() {
#if defined(__unix__)
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) == 0) return static_cast<int64_t>(usage.ru_minflt);
#endif
  return 0;
}
