// TlsProbe.exe: the tool's TLS session (CTlsSession on SChannel) driven
// against a server that sends each line back reversed (openssl s_server
// -rev), for tls_wine_test.sh:
//   TlsProbe.exe HOST PORT [--ca FILE] [--peer NAME] [--cert FILE] [--key FILE]
// Sends three lines of 12,000 bytes in one write, so that records span
// lines both ways, and checks each answer. Prints "open: PROTOCOL" and
// "echoed: N bytes" and exits 0; prints "refused: REASON" and exits 1 when
// the session could not be had; exits 2 on anything else.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "system/network.h"
#include "system/tls_session.h"

namespace {

constexpr int nTimeout = 20000;

bool ParseOptions(int nArgs, char** ppArgs, CTlsOptions& options) {
  for (int i = 3; i + 1 < nArgs; i += 2) {
    const std::string strName = ppArgs[i];
    std::string* pTarget = strName == "--ca"     ? &options.m_strCaFile
                           : strName == "--peer" ? &options.m_strPeerName
                           : strName == "--cert" ? &options.m_strCertFile
                           : strName == "--key"  ? &options.m_strKeyFile
                                                 : nullptr;
    if (!pTarget) return false;
    *pTarget = ppArgs[i + 1];
  }
  return nArgs % 2 == 1;
}

std::string MakeLines() {
  std::string strLines;
  for (int nLine = 0; nLine < 3; ++nLine) {
    std::string strLine = "line " + std::to_string(nLine) + ":";
    while (strLine.size() < 12000) strLine += static_cast<char>('a' + (strLine.size() * 7 + nLine) % 26);
    strLines += strLine + "\n";
  }
  return strLines;
}

// What the server sends back: each line reversed.
std::string ReverseLines(const std::string& strLines) {
  std::string strReversed;
  for (size_t nStart = 0; nStart < strLines.size();) {
    const size_t nEnd = strLines.find('\n', nStart);
    strReversed += std::string(strLines.rbegin() + static_cast<long>(strLines.size() - nEnd),
                               strLines.rbegin() + static_cast<long>(strLines.size() - nStart)) +
                   "\n";
    nStart = nEnd + 1;
  }
  return strReversed;
}

bool WriteAll(CTlsSession& session, const std::string& strBytes, std::string& strError) {
  for (size_t nDone = 0; nDone < strBytes.size();) {
    const long nTaken = session.WriteSome(strBytes.data() + nDone, strBytes.size() - nDone, strError);
    if (nTaken < 0) return false;
    if (nTaken == 0) session.WaitWritable(100);
    nDone += static_cast<size_t>(nTaken);
  }
  return true;
}

bool ReadExactly(CTlsSession& session, size_t nCount, std::string& strRead, std::string& strError) {
  const ULONGLONG nDeadline = GetTickCount64() + nTimeout;
  char aChunk[4096];
  while (strRead.size() < nCount) {
    // Taken bytes still waiting for the socket move on in reads too.
    const long nRead = session.ReadSome(aChunk, sizeof aChunk, strError);
    if (nRead < 0) return false;
    strRead.append(aChunk, static_cast<size_t>(nRead));
    if (nRead == 0 && GetTickCount64() > nDeadline) {
      strError = "no answer in time";
      return false;
    }
    if (nRead == 0) Sleep(5);
  }
  return true;
}

}  // namespace

int main(int nArgs, char** ppArgs) {
  CTlsOptions options;
  if (nArgs < 3 || !ParseOptions(nArgs, ppArgs, options)) {
    std::fprintf(stderr, "usage: TlsProbe HOST PORT [--ca FILE] [--peer NAME] [--cert FILE] [--key FILE]\n");
    return 2;
  }
  std::string strError;
  CNetSocket socket;
  if (!socket.Connect(ppArgs[1], std::atoi(ppArgs[2]), socketStream, nTimeout, strError)) {
    std::printf("no connection: %s\n", strError.c_str());
    return 2;
  }
  CTlsSession session;
  if (!session.Open(std::move(socket), ppArgs[1], options, nTimeout, strError)) {
    std::printf("refused: %s\n", strError.c_str());
    return session.IsOpen() ? 2 : 1;
  }
  std::printf("open: %s\n", session.Describe().c_str());
  const std::string strLines = MakeLines();
  std::string strAnswer;
  if (!WriteAll(session, strLines, strError) || !ReadExactly(session, strLines.size(), strAnswer, strError)) {
    std::printf("broken: %s\n", strError.c_str());
    return 2;
  }
  if (strAnswer != ReverseLines(strLines)) {
    std::printf("wrong answer: %zu bytes, starting %.40s\n", strAnswer.size(), strAnswer.c_str());
    return 2;
  }
  std::printf("echoed: %zu bytes\n", strAnswer.size());
  session.Close();
  return 0;
}
