// vardlix.exe end to end under Wine: each test copies vardlix.exe,
// Vardlix.dll and Host.exe into a folder with a Chinese name, runs the tool
// there with CreateProcessW and reads what it prints, through pipes (where
// the tool writes UTF-8) or from a console (where it writes UTF-16).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

std::filesystem::path OwnFolder() {
  wchar_t aPath[MAX_PATH];
  const DWORD nLength = GetModuleFileNameW(nullptr /* this program */, aPath, MAX_PATH);
  return std::filesystem::path(std::wstring(aPath, nLength)).parent_path();
}

std::string Utf8(const std::wstring& strText) {
  if (strText.empty()) return std::string();
  const int nSize =
      WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr /* measure */, 0,
                          nullptr /* lpDefaultChar */, nullptr /* lpUsedDefaultChar */);
  std::string strOut(nSize, '\0');
  WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), &strOut[0], nSize,
                      nullptr /* lpDefaultChar */, nullptr /* lpUsedDefaultChar */);
  return strOut;
}

void ReplaceAll(std::wstring& strText, const std::wstring& strFrom, const std::wstring& strTo) {
  for (size_t nPos = 0; (nPos = strText.find(strFrom, nPos)) != std::wstring::npos; nPos += strTo.size()) {
    strText.replace(nPos, strFrom.size(), strTo);
  }
}

// One argument, quoted so that CommandLineToArgvW gives it back unchanged:
// backslashes are doubled only before a quote and before the closing quote.
std::wstring QuoteArgument(const std::wstring& strArg) {
  std::wstring strOut = L"\"";
  size_t nSlashes = 0;
  for (wchar_t c : strArg) {
    if (c == L'\\') {
      ++nSlashes;
      continue;
    }
    strOut.append(c == L'"' ? nSlashes * 2 + 1 : nSlashes, L'\\');
    nSlashes = 0;
    strOut += c;
  }
  strOut.append(nSlashes * 2, L'\\');
  return strOut + L"\"";
}

// A pipe for one output stream of a child, read to its end on a thread of
// its own so that a full pipe never stalls the child.
class CPipeReader {
 public:
  CPipeReader() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr /* default security */, TRUE};
    EXPECT_TRUE(CreatePipe(&m_hRead, &m_hWrite, &inherit, 0 /* default size */));
    SetHandleInformation(m_hRead, HANDLE_FLAG_INHERIT, 0);
  }
  ~CPipeReader() {
    StartReading();
    WaitForEnd();
    CloseHandle(m_hRead);
  }
  CPipeReader(const CPipeReader&) = delete;
  CPipeReader& operator=(const CPipeReader&) = delete;

  HANDLE WriteEnd() const { return m_hWrite; }
  // Once the child has its copy: the pipe ends when the child's copy closes.
  void StartReading() {
    if (m_hWrite == nullptr) return;
    CloseHandle(m_hWrite);
    m_hWrite = nullptr;
    m_reader = std::thread([this] {
      char aBuffer[4096];
      DWORD nRead = 0;
      while (ReadFile(m_hRead, aBuffer, sizeof aBuffer, &nRead, nullptr /* not overlapped */) && nRead > 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_strText.append(aBuffer, nRead);
      }
    });
  }
  std::string Text() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strText;
  }
  // Once every writer has closed its end: all that was written is read.
  void WaitForEnd() {
    if (m_reader.joinable()) m_reader.join();
  }

 private:
  HANDLE m_hRead = nullptr;
  HANDLE m_hWrite = nullptr;
  std::thread m_reader;
  mutable std::mutex m_mutex;
  std::string m_strText;
};

// Where a program's output and errors go.
enum ProgramOutput : int {
  outputPipes,       // pipes that this driver reads
  outputConsole,     // the console handle given
  outputNewConsole,  // a console of its own (under Wine without a display, one without a window)
};

// One run of a program.
class CProgramRun {
 public:
  CProgramRun(const std::filesystem::path& program, const std::vector<std::wstring>& aArgs,
              ProgramOutput nOutput = outputPipes, HANDLE hConsole = nullptr) {
    std::wstring strCommand = QuoteArgument(program.wstring());
    for (const auto& strArg : aArgs) strCommand += L" " + QuoteArgument(strArg);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (nOutput != outputNewConsole) {
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = nullptr;  // no input
      startup.hStdOutput = nOutput == outputConsole ? hConsole : m_out.WriteEnd();
      startup.hStdError = nOutput == outputConsole ? hConsole : m_err.WriteEnd();
    }
    PROCESS_INFORMATION process{};
    const std::wstring strFolder = program.parent_path().wstring();
    if (!CreateProcessW(nullptr /* program: from the command line */, &strCommand[0], nullptr /* process security */,
                        nullptr /* thread security */, nOutput != outputNewConsole /* the standard handles */,
                        nOutput == outputNewConsole ? CREATE_NO_WINDOW : 0, nullptr /* this environment */,
                        strFolder.c_str(), &startup, &process)) {
      ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    } else {
      CloseHandle(process.hThread);
      m_hProcess = process.hProcess;
    }
    m_out.StartReading();
    m_err.StartReading();
  }
  ~CProgramRun() {
    if (m_hProcess == nullptr) return;
    if (WaitForSingleObject(m_hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(m_hProcess, 255);
    WaitForSingleObject(m_hProcess, INFINITE);
    CloseHandle(m_hProcess);
  }
  CProgramRun(const CProgramRun&) = delete;
  CProgramRun& operator=(const CProgramRun&) = delete;

  DWORD ProcessId() const { return m_hProcess ? GetProcessId(m_hProcess) : 0; }
  // The exit code, or ~0 when it has not ended within nMilliseconds. Once
  // it has ended, Out and Err hold everything it wrote.
  DWORD Wait(DWORD nMilliseconds = 120000) {
    DWORD nExit = ~0u;
    if (m_hProcess && WaitForSingleObject(m_hProcess, nMilliseconds) == WAIT_OBJECT_0) {
      GetExitCodeProcess(m_hProcess, &nExit);
      m_out.WaitForEnd();
      m_err.WaitForEnd();
    }
    return nExit;
  }
  // Ends it where it stands; then Out and Err hold everything it wrote.
  void Stop() {
    if (m_hProcess && WaitForSingleObject(m_hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(m_hProcess, 255);
    Wait();
  }
  std::string Out() const { return m_out.Text(); }
  std::string Err() const { return m_err.Text(); }

 private:
  CPipeReader m_out;
  CPipeReader m_err;
  HANDLE m_hProcess = nullptr;
};

// How a row runs the tool.
enum ToolRunWay : int {
  runPiped,     // output and errors through pipes: UTF-8 bytes
  runConsole,   // both to a console whose code page has no Chinese
  runNoColor,   // to that console, with NO_COLOR set
  runHeldFile,  // through pipes, while the day's file is held open as the library holds it
};

struct CToolCase {
  const char* szWhat;
  ToolRunWay nWay;
  std::vector<std::wstring> aArgs;  // {tool}, {log} and {day} stand for their paths
  DWORD nStatus;
  std::vector<std::string> aPrinted;  // each in the output (console rows: its text), paths and times as {…}
  std::vector<std::string> aAbsent;   // none of these in it
  std::string strErrors;              // the error stream, exactly
};

// A folder with a Chinese name that holds vardlix.exe, Vardlix.dll and
// Host.exe; the tool's log folder is vardlixLog in it.
class ToolExe : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(ToolFolder());
    for (const char* pszFile : {"vardlix.exe", "Vardlix.dll", "Host.exe"}) {
      std::filesystem::copy_file(OwnFolder() / pszFile, ToolFolder() / pszFile);
    }
  }

  void TearDown() override {
    if (m_pConsoleHolder) {
      CloseHandle(m_hConsole);
      FreeConsole();
      SetConsoleCtrlHandler(nullptr, FALSE /* Ctrl-C ends this driver again */);
    }
  }

  std::filesystem::path ToolFolder() const { return m_folder.Path() / L"工具"; }
  std::wstring LogFolder() const { return (ToolFolder() / L"vardlixLog").wstring(); }

  std::wstring DayFile() const {
    WIN32_FIND_DATAW found;
    HANDLE hFind = FindFirstFileW((LogFolder() + L"\\Vardlix*.xml").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE) return L"(no day file)";
    FindClose(hFind);
    return LogFolder() + L"\\" + found.cFileName;
  }

  std::wstring Expand(std::wstring strArg) const {
    ReplaceAll(strArg, L"{tool}", ToolFolder().wstring());
    ReplaceAll(strArg, L"{log}", LogFolder());
    ReplaceAll(strArg, L"{day}", DayFile());
    return strArg;
  }

  // Output made comparable: the tool folder as {tool}, times as {time}, the
  // day in a day file's name as {day}.
  std::string Normalize(const std::string& strText) const {
    std::string strOut = strText;
    const std::string strTool = Utf8(ToolFolder().wstring());
    for (size_t nPos = 0; (nPos = strOut.find(strTool, nPos)) != std::string::npos;) {
      strOut.replace(nPos, strTool.size(), "{tool}");
    }
    strOut = std::regex_replace(strOut, std::regex(R"(\d{4}[-.]\d\d[-.]\d\d[T ]\d\d:\d\d:\d\d)"), "{time}");
    strOut = std::regex_replace(strOut, std::regex(R"("epoch":\d+)"), R"("epoch":{epoch})");
    return std::regex_replace(strOut, std::regex(R"(Vardlix\d{8}\.xml)"), "Vardlix{day}.xml");
  }

  // A console for the rows that print to one. Under Wine without a display
  // a console is had only by starting a process with one of its own: a
  // follow of an empty folder, which prints its table's header there and
  // switches the escape sequences on (TerminalShowsColor), and whose console
  // this driver then shares. Its output code page is 1252, which has no
  // Chinese characters, so only text written as UTF-16 shows them.
  HANDLE Console() {
    if (m_pConsoleHolder) return m_hConsole;
    CreateDirectoryW((m_folder.Path() / L"empty").wstring().c_str(), nullptr /* default security */);
    const std::vector<std::wstring> aArgs = {L"follow", L"-d", (m_folder.Path() / L"empty").wstring()};
    m_pConsoleHolder = std::make_unique<CProgramRun>(ToolFolder() / L"vardlix.exe", aArgs, outputNewConsole);
    FreeConsole();
    bool bAttached = false;
    for (int i = 0; i < 200 && !bAttached; ++i) {
      bAttached = AttachConsole(m_pConsoleHolder->ProcessId());
      if (!bAttached) Sleep(50);
    }
    EXPECT_TRUE(bAttached) << GetLastError();
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr /* default security */, TRUE};
    m_hConsole = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr /* template */);
    EXPECT_NE(m_hConsole, INVALID_HANDLE_VALUE);
    for (int i = 0; i < 200 && !(ConsoleMode() & ENABLE_VIRTUAL_TERMINAL_PROCESSING); ++i) Sleep(50);
    SetConsoleOutputCP(1252);
    // Wide enough that no line of the tool wraps.
    SetConsoleScreenBufferSize(m_hConsole, COORD{400, 200});
    // The Ctrl-C sent to the console holder reaches this driver too.
    SetConsoleCtrlHandler(nullptr, TRUE /* ignore Ctrl-C */);
    return m_hConsole;
  }

  void ClearConsole() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    GetConsoleScreenBufferInfo(Console(), &info);
    DWORD nDone = 0;
    const DWORD nCells = static_cast<DWORD>(info.dwSize.X) * info.dwSize.Y;
    FillConsoleOutputCharacterW(m_hConsole, L' ', nCells, COORD{0, 0}, &nDone);
    FillConsoleOutputAttribute(m_hConsole, info.wAttributes, nCells, COORD{0, 0}, &nDone);
    SetConsoleCursorPosition(m_hConsole, COORD{0, 0});
  }

  // The console's lines up to the cursor, blanks at their ends cut, each
  // ended by "\n". Where red text (neither green nor blue) begins, "{red}"
  // stands before it; so it does for the sequence that asks for red, which
  // Wine's console without a window shows as text where Windows colours.
  std::string ConsoleText() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    GetConsoleScreenBufferInfo(m_hConsole, &info);
    std::wstring strText;
    for (SHORT nRow = 0; nRow < info.dwCursorPosition.Y; ++nRow) {
      std::wstring strLine(info.dwSize.X, L' ');
      std::vector<WORD> aColors(info.dwSize.X);
      DWORD nRead = 0;
      ReadConsoleOutputCharacterW(m_hConsole, &strLine[0], info.dwSize.X, COORD{0, nRow}, &nRead);
      ReadConsoleOutputAttribute(m_hConsole, aColors.data(), info.dwSize.X, COORD{0, nRow}, &nRead);
      strLine.erase(strLine.find_last_not_of(L' ') + 1);
      bool bRed = false;
      for (size_t i = 0; i < strLine.size(); ++i) {
        const WORD nColor = aColors[i] & (FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE);
        if (nColor == FOREGROUND_RED && !bRed) strText += L"{red}";
        bRed = nColor == FOREGROUND_RED;
        strText += strLine[i];
      }
      strText += L"\n";
    }
    return std::regex_replace(Utf8(strText), std::regex("\x1b?\\[31m"), "{red}");
  }

  DWORD ConsoleMode() const {
    DWORD nMode = 0;
    GetConsoleMode(m_hConsole, &nMode);
    return nMode;
  }

  // Ends the console holder with Ctrl-C; its exit code.
  DWORD InterruptConsoleHolder() {
    if (!m_pConsoleHolder) return ~0u;
    EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0 /* every process of the console */));
    return m_pConsoleHolder->Wait(30000);
  }

  CTempFolder m_folder;
  std::unique_ptr<CProgramRun> m_pConsoleHolder;
  HANDLE m_hConsole = INVALID_HANDLE_VALUE;
};

TEST_F(ToolExe, EveryCommandWorksWithChinesePathsAndText) {
  // A day's log whose record is closed by the root's end tag.
  const std::wstring strDamaged = L"<日志>\r\n<记录>\r\n</日志>";
  std::ofstream(ToolFolder() / L"damaged.xml", std::ios::binary)
      << "\xFF\xFE"
      << std::string(reinterpret_cast<const char*>(strDamaged.data()), strDamaged.size() * sizeof(wchar_t));
  const std::string strChinese =
      R"({"time":"{time}+00:00","epoch":{epoch},"type":"信息","location":"主窗口","operation":"打开文件",)"
      R"("parameters":"报表=二〇二四年度.xlsx","description":"已打开报表，共 12 页","file":"Vardlix{day}.xml"})";
  const std::string strError =
      R"({"time":"{time}+00:00","epoch":{epoch},"type":"Error","location":"Network","operation":"Connect",)"
      R"("parameters":"host=example.org port=443","description":"Connection refused","file":"Vardlix{day}.xml"})";
  const CToolCase kCases[] = {
      {"write takes Chinese arguments from the wide command line",
       runPiped,
       {L"write", L"信息", L"主窗口", L"打开文件", L"报表=二〇二四年度.xlsx", L"已打开报表，共 12 页"},
       0,
       {},
       {},
       ""},
      {"write takes ASCII ones",
       runPiped,
       {L"write", L"Error", L"Network", L"Connect", L"host=example.org port=443", L"Connection refused"},
       0,
       {},
       {},
       ""},
      {"show on a folder with backslashes prints UTF-8 lines ending in LF",
       runPiped,
       {L"show", L"--folder", L"{log}", L"--format", L"json"},
       0,
       {strChinese + "\n" + strError + "\n"},
       {"\r"},
       ""},
      {"a Chinese type filters, and a folder may end in a backslash",
       runPiped,
       {L"show", L"--folder", L"{log}\\", L"-f", L"json", L"--type", L"信息"},
       0,
       {strChinese + "\n"},
       {"Error"},
       ""},
      {"--host names the folder by the library's rule",
       runPiped,
       {L"show", L"--host", L"{tool}\\vardlix.exe", L"-f", L"json", L"-t", L"Error"},
       0,
       {strError + "\n"},
       {"信息"},
       ""},
      {"a day's file given by its path is named without its folder",
       runPiped,
       {L"show", L"{day}", L"-f", L"json", L"-t", L"Error"},
       0,
       {strError + "\n"},
       {"\\"},
       ""},
      {"CSV keeps its CR LF and starts with the mark only when asked",
       runPiped,
       {L"show", L"-d", L"{log}", L"-f", L"csv", L"-t", L"Error", L"--bom"},
       0,
       {"\xEF\xBB\xBFtime,type,location,operation,parameters,description,file\r\n"
        "{time}+00:00,Error,Network,Connect,host=example.org port=443,Connection refused,Vardlix{day}.xml\r\n"},
       {"\r\r"},
       ""},
      {"the day's file held by a writer as the library holds it is read",
       runHeldFile,
       {L"show", L"-d", L"{log}", L"-f", L"json", L"-t", L"Error"},
       0,
       {strError + "\n"},
       {},
       ""},
      {"life sets the retention in the tool's own log folder",
       runPiped,
       {L"life", L"30"},
       0,
       {"Retention 30 days in {tool}\\vardlixLog\n"},
       {},
       ""},
      {"life reads it back", runPiped, {L"life"}, 0, {"Retention 30 days in {tool}\\vardlixLog\n"}, {}, ""},
      {"life --host sets another program's retention without loading the library",
       runPiped,
       {L"life", L"--host", L"{tool}\\Host.exe", L"12", L"--create"},
       0,
       {"Retention 12 days in {tool}\\HostLog\nA host that is running applies it at its next load of the library.\n"},
       {},
       ""},
      {"life --host reads it back",
       runPiped,
       {L"life", L"--host", L"{tool}\\Host.exe"},
       0,
       {"Retention 12 days in {tool}\\HostLog\n"},
       {"running"},
       ""},
      {"stats reports the folder, the retention and the types",
       runPiped,
       {L"stats", L"--folder", L"{log}"},
       0,
       {"Folder     {tool}\\vardlixLog\n", "Retention  30 days (SettingInfo.xml holds \"30\")\n",
        "信息 1, Error 1 (errors 1, warnings 0)\n"},
       {},
       ""},
      {"check passes the library's file",
       runPiped,
       {L"check", L"{day}"},
       0,
       {"{tool}\\vardlixLog\\Vardlix{day}.xml: well-formed day's log, 2 records\n"},
       {},
       ""},
      {"check names where a damaged file stops",
       runPiped,
       {L"check", L"{tool}\\damaged.xml"},
       1,
       {"{tool}\\damaged.xml:3:3: not well-formed: End tag does not correspond to 记录\n"},
       {},
       ""},
      {"a path that starts with a slash is no option",
       runPiped,
       {L"check", L"/no/such.xml"},
       1,
       {},
       {},
       "vardlix: /no/such.xml: no such file\n"},
      {"errors are UTF-8 too",
       runPiped,
       {L"show", L"-d", L"{tool}\\没有"},
       1,
       {},
       {},
       "vardlix: no such folder: {tool}\\没有\n"},
      {"a console shows Chinese whatever its code page",
       runConsole,
       {L"show", L"-d", L"{log}", L"-f", L"json", L"-t", L"信息"},
       0,
       {strChinese + "\n"},
       {},
       ""},
      {"a console that takes escape sequences gets colours",
       runConsole,
       {L"show", L"-d", L"{log}", L"-t", L"Error"},
       0,
       {"{red}Error"},
       {},
       ""},
      {"NO_COLOR keeps them off", runNoColor, {L"show", L"-d", L"{log}", L"-t", L"Error"}, 0, {"Error"}, {"{red}"}, ""},
      {"--version gives the project's version", runPiped, {L"--version"}, 0, {"vardlix " VARDLIX_VERSION "\n"}, {}, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.szWhat);
    std::vector<std::wstring> aArgs;
    for (const auto& strArg : c.aArgs) aArgs.push_back(Expand(strArg));
    const bool bConsole = c.nWay == runConsole || c.nWay == runNoColor;
    if (bConsole) ClearConsole();
    if (c.nWay == runNoColor) SetEnvironmentVariableW(L"NO_COLOR", L"1");
    HANDLE hHeld = INVALID_HANDLE_VALUE;
    if (c.nWay == runHeldFile) {
      hHeld = CreateFileW(DayFile().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr /* security */,
                          OPEN_EXISTING, 0, nullptr /* template */);
      EXPECT_NE(hHeld, INVALID_HANDLE_VALUE);
    }
    CProgramRun run(ToolFolder() / L"vardlix.exe", aArgs, bConsole ? outputConsole : outputPipes,
                    bConsole ? Console() : nullptr);
    EXPECT_EQ(run.Wait(), c.nStatus) << run.Err();
    if (hHeld != INVALID_HANDLE_VALUE) CloseHandle(hHeld);
    SetEnvironmentVariableW(L"NO_COLOR", nullptr /* remove */);
    const std::string strPrinted = Normalize(bConsole ? ConsoleText() : run.Out());
    for (const auto& strPiece : c.aPrinted) {
      EXPECT_NE(strPrinted.find(strPiece), std::string::npos) << strPrinted << run.Err();
    }
    for (const auto& strPiece : c.aAbsent) EXPECT_EQ(strPrinted.find(strPiece), std::string::npos) << strPrinted;
    if (!bConsole) {
      EXPECT_EQ(Normalize(run.Err()), c.strErrors);
    }
  }
  // The console holder, a follow, switched the escape sequences on. Ctrl-C
  // ends it through its own way out, which puts the console's mode back; the
  // system's handler would end it where it stands (with STATUS_CONTROL_C_EXIT
  // on Windows, with 0 under Wine).
  EXPECT_TRUE(ConsoleMode() & ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  EXPECT_EQ(InterruptConsoleHolder(), 0u);
  EXPECT_FALSE(ConsoleMode() & ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

// follow reads today's file every 10 ms while a host writes to it, so its
// reads meet the library's writes in progress, and it still passes on each
// record once, in order. (That the library is not kept out by a read is the
// held-file row above: Windows checks share modes both ways alike.) With
// --lines high enough, records written before follow's first read come as
// its backlog, so the run needs no timing.
TEST_F(ToolExe, FollowMissesNoRecordAHostWrites) {
  constexpr int kRecords = 150;
  // The host's log folder, which follow needs to exist.
  ASSERT_EQ(CProgramRun(ToolFolder() / L"Host.exe", {L"by-name", L"load"}).Wait(), 0u);
  CProgramRun follow(ToolFolder() / L"vardlix.exe", {L"follow", L"--host", (ToolFolder() / L"Host.exe").wstring(),
                                                     L"-f", L"json", L"--lines", L"100000", L"--interval", L"10"});
  CProgramRun host(ToolFolder() / L"Host.exe", {L"by-name", L"write", std::to_wstring(kRecords), L"Follow"});
  EXPECT_EQ(host.Wait(), 0u);
  const ULONGLONG nDeadline = GetTickCount64() + 60000;
  for (std::string strOut; GetTickCount64() < nDeadline; Sleep(20)) {
    strOut = follow.Out();
    if (std::count(strOut.begin(), strOut.end(), '\n') >= kRecords) break;
  }
  Sleep(200);  // time for a record too many to show
  follow.Stop();
  const std::string strOut = follow.Out();
  std::vector<std::string> aOperations;
  const std::regex operation(R"re("operation":"([^"]*)")re");
  for (std::sregex_iterator it(strOut.begin(), strOut.end(), operation), end; it != end; ++it) {
    aOperations.push_back((*it)[1]);
  }
  ASSERT_EQ(aOperations.size(), static_cast<size_t>(kRecords)) << strOut << follow.Err();
  for (int i = 0; i < kRecords; ++i) EXPECT_EQ(aOperations[i], "Op" + std::to_string(i));
  EXPECT_EQ(follow.Err(), "");
}

// A host in the Microsoft ABI (msvc_host.c, linked against Vardlix.lib)
// writes its record; vardlix.exe shows it from that host's log folder.
TEST_F(ToolExe, RecordOfAMicrosoftAbiHostIsShown) {
  std::filesystem::copy_file(OwnFolder() / "MsvcHost.exe", ToolFolder() / "MsvcHost.exe");
  ASSERT_EQ(CProgramRun(ToolFolder() / L"MsvcHost.exe", {}).Wait(), 0u);
  CProgramRun show(ToolFolder() / L"vardlix.exe",
                   {L"show", L"--host", (ToolFolder() / L"MsvcHost.exe").wstring(), L"-f", L"json"});
  EXPECT_EQ(show.Wait(), 0u);
  EXPECT_NE(show.Out().find(R"("location":"MsvcHost","operation":"Link","parameters":"lib=Vardlix.lib",)"
                            R"("description":"微软链接器")"),
            std::string::npos)
      << show.Out() << show.Err();
}

// Both binaries carry the version resource that Explorer's Details tab,
// installers and crash reports read, with the project's version.
TEST_F(ToolExe, BinariesCarryTheProjectsVersionResource) {
  const std::wstring strVersion = L"" VARDLIX_VERSION;
  for (const wchar_t* pszFile : {L"vardlix.exe", L"Vardlix.dll"}) {
    SCOPED_TRACE(Utf8(pszFile));
    const std::wstring strPath = (ToolFolder() / pszFile).wstring();
    DWORD nHandle = 0;
    std::vector<char> aInfo(GetFileVersionInfoSizeW(strPath.c_str(), &nHandle));
    ASSERT_FALSE(aInfo.empty()) << GetLastError();
    ASSERT_TRUE(GetFileVersionInfoW(strPath.c_str(), 0, static_cast<DWORD>(aInfo.size()), aInfo.data()));
    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT nSize = 0;
    ASSERT_TRUE(VerQueryValueW(aInfo.data(), L"\\", reinterpret_cast<void**>(&pFixed), &nSize));
    EXPECT_EQ(std::to_wstring(HIWORD(pFixed->dwFileVersionMS)) + L"." +
                  std::to_wstring(LOWORD(pFixed->dwFileVersionMS)) + L"." +
                  std::to_wstring(HIWORD(pFixed->dwFileVersionLS)),
              strVersion);
    const struct {
      const wchar_t* m_pszName;
      std::wstring m_strValue;
    } kStrings[] = {{L"ProductName", L"Vardlix"}, {L"FileVersion", strVersion}, {L"OriginalFilename", pszFile}};
    for (const auto& entry : kStrings) {
      wchar_t* pszValue = nullptr;
      const std::wstring strKey = std::wstring(L"\\StringFileInfo\\040904B0\\") + entry.m_pszName;
      ASSERT_TRUE(VerQueryValueW(aInfo.data(), strKey.c_str(), reinterpret_cast<void**>(&pszValue), &nSize))
          << Utf8(entry.m_pszName);
      EXPECT_EQ(std::wstring(pszValue), entry.m_strValue);
    }
  }
}

}  // namespace
