#include "tool_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "base/text_encoding.h"
#include "support/document_bytes.h"

namespace {

// Starts strProgram with its output in files; returns the child's id.
pid_t Spawn(const std::string& strProgram, const std::vector<std::string>& aArgs, const CEnvironment& environment,
            const std::string& strOutFile, const std::string& strErrFile) {
  pid_t nPid = fork();
  if (nPid != 0) return nPid;
  int nOut = open(strOutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int nErr = open(strErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int nIn = open("/dev/null", O_RDONLY);
  dup2(nIn, 0);
  dup2(nOut, 1);
  dup2(nErr, 2);
  for (const auto& [strName, strValue] : environment) {
    if (strValue.empty()) unsetenv(strName.c_str());
    else setenv(strName.c_str(), strValue.c_str(), 1);
  }
  std::vector<char*> aArgv;
  aArgv.push_back(const_cast<char*>(strProgram.c_str()));
  for (const auto& strArg : aArgs) aArgv.push_back(const_cast<char*>(strArg.c_str()));
  aArgv.push_back(nullptr);
  execv(strProgram.c_str(), aArgv.data());
  _exit(127);
}

int WaitFor(pid_t nPid) {
  int nStatus = 0;
  while (waitpid(nPid, &nStatus, 0) < 0) {
  }
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

}  // namespace

CScratchFolder::CScratchFolder() {
  std::random_device random;
  do {
    m_path = std::filesystem::temp_directory_path() / ("vardlix-tool-" + std::to_string(random()));
  } while (!std::filesystem::create_directory(m_path));
}

CScratchFolder::~CScratchFolder() {
  std::error_code error;
  std::filesystem::remove_all(m_path, error);
}

CToolResult RunTool(const std::vector<std::string>& aArgs, const CEnvironment& environment,
                    const std::string& strProgram) {
  CScratchFolder streams;
  CToolResult result;
  pid_t nPid = Spawn(strProgram.empty() ? VARDLIX_TOOL_PATH : strProgram, aArgs, environment, streams.Path("out"),
                     streams.Path("err"));
  result.m_nStatus = WaitFor(nPid);
  result.m_strOut = ReadBytes(streams.Path("out"));
  result.m_strErr = ReadBytes(streams.Path("err"));
  return result;
}

CToolProcess::CToolProcess(const std::vector<std::string>& aArgs, const std::string& strOutputFile)
    : m_strOutputFile(strOutputFile) {
  m_nPid = Spawn(VARDLIX_TOOL_PATH, aArgs, {}, strOutputFile, strOutputFile + ".err");
}

CToolProcess::~CToolProcess() {
  if (m_nPid > 0) {
    kill(m_nPid, SIGKILL);
    WaitFor(m_nPid);
  }
}

std::string CToolProcess::Output() const { return ReadBytes(m_strOutputFile); }

void CToolProcess::Interrupt() const { kill(m_nPid, SIGINT); }

void CToolProcess::Signal(int nSignal) const { kill(m_nPid, nSignal); }

int CToolProcess::Wait() {
  int nStatus = WaitFor(m_nPid);
  m_nPid = -1;
  return nStatus;
}

std::string MakeHost(const CScratchFolder& folder) {
  std::string strHost = folder.Path("host");
  std::filesystem::copy_file(VARDLIX_TOOL_PATH, strHost);
  return strHost;
}

void WriteUtf16File(const std::string& strPath, const std::string& strUtf8) {
  std::u16string strText;
  if (!FromUtf8(strUtf8, strText)) throw std::invalid_argument("test text is not UTF-8");
  WriteBytes(strPath, EncodeDocument(strText));
}

void WriteBytes(const std::string& strPath, const std::string& strBytes) {
  std::ofstream(strPath, std::ios::binary) << strBytes;
}

std::string ReadBytes(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string MakeLogText(const std::vector<std::vector<std::string>>& aRecords) {
  static const char* const kNames[] = {"时间", "类型", "位置", "操作", "参数", "描述"};
  std::string strText = "<?xml version=\"1.0\" encoding=\"unicode\"?>\r\n<日志>\r\n";
  for (const auto& aFields : aRecords) {
    strText += "<记录>\r\n";
    for (size_t i = 0; i < 6; ++i) {
      strText += "<" + std::string(kNames[i]) + ">" + aFields.at(i) + "</" + kNames[i] + ">\r\n";
    }
    strText += "</记录>\r\n";
  }
  return strText + "</日志>\r\n";
}

std::vector<std::string> SplitLines(const std::string& strText) {
  std::vector<std::string> aLines;
  size_t nStart = 0;
  while (nStart < strText.size()) {
    size_t nEnd = strText.find('\n', nStart);
    if (nEnd == std::string::npos) nEnd = strText.size();
    std::string strLine = strText.substr(nStart, nEnd - nStart);
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
    aLines.push_back(strLine);
    nStart = nEnd + 1;
  }
  return aLines;
}
