#include "library_frame.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform_files.h"
#include "daily_log.h"
#include "purge.h"
#include "settings.h"

// The load sequence runs from the platform's load notification. On Windows
// that comes after the runtime has constructed every static object of the
// library; an ELF constructor function, however, may run before the dynamic
// initialisers of other translation units. So everything the load touches is
// ready from the start: the declaration and the retention are constant
// initialised, the mutex has a constexpr constructor, and the one string that
// needs a constructor is placed ahead of every ordinary initialiser.
#if defined(__GNUC__)
#define VARDLIX_CONSTRUCT_FIRST __attribute__((init_priority(101)))
#else
#define VARDLIX_CONSTRUCT_FIRST
#endif

std::u16string g_strLogFolder VARDLIX_CONSTRUCT_FIRST = kFallbackFolder;
std::atomic<int32_t> g_nLogLife{kDefaultLogLife};

namespace {

std::mutex g_fileOperationsMutex;

// Room reserved behind a document read from a file, so that the record added
// to it fits without moving the whole text to a larger block.
constexpr size_t kGrowthRoomUnits = 4096;

std::u16string WidenAscii(const char* psz) {
  std::u16string str;
  for (; *psz != '\0'; ++psz) str.push_back(static_cast<char16_t>(static_cast<unsigned char>(*psz)));
  return str;
}


[[maybe_unused]] void SwapByteOrder(char16_t* p, size_t nCount) {
  for (size_t i = 0; i < nCount; ++i) p[i] = static_cast<char16_t>((p[i] >> 8) | (p[i] << 8));
}

// Position of the first zero unit, or nCount. Every read of a document looks
// at each of its units once here, so 32 of them are checked per step.
size_t FindFirstZeroUnit(const char16_t* p, size_t nCount) {
  size_t nStart = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  auto HasZero = [zero](const char16_t* q) {
    const __m128i* pBlock = reinterpret_cast<const __m128i*>(q);
    const __m128i first = _mm_or_si128(_mm_cmpeq_epi16(_mm_loadu_si128(pBlock), zero),
                                       _mm_cmpeq_epi16(_mm_loadu_si128(pBlock + 1), zero));
    const __m128i second = _mm_or_si128(_mm_cmpeq_epi16(_mm_loadu_si128(pBlock + 2), zero),
                                        _mm_cmpeq_epi16(_mm_loadu_si128(pBlock + 3), zero));
    return _mm_movemask_epi8(_mm_or_si128(first, second)) != 0;
  };
  for (; nStart + 32 <= nCount && !HasZero(p + nStart); nStart += 32) {
  }
#endif
  for (; nStart < nCount; ++nStart) {
    if (p[nStart] == 0) return nStart;
  }
  return nCount;
}

size_t CheckedSize(uint64_t nLength) {
  if (nLength > std::numeric_limits<size_t>::max() / 2) throw std::bad_alloc();
  return static_cast<size_t>(nLength);
}

// The rest of a file after FF FE, straight into the string's own storage.
// The string can only grow by zero-filling, so it grows one cache-sized
// piece at a time, and each piece is read and searched for a zero unit while
// it is still in the cache: one pass over memory instead of three.
// True when a byte other than zero lies in [p, p + nCount) or in the file
// from its current position on.
bool HoldsDataBeyond(const char* p, size_t nCount, CFile& file) {
  auto AnyData = [](const char* q, size_t n) { return std::any_of(q, q + n, [](char c) { return c != 0; }); };
  if (AnyData(p, nCount)) return true;
  std::string strPiece(64 * 1024, '\0');
  for (size_t nRead; (nRead = file.Read(strPiece.data(), strPiece.size())) > 0;) {
    if (AnyData(strPiece.data(), nRead)) return true;
  }
  return false;
}

std::u16string ReadWideText(CFile& file, size_t nBytesAfterMark, bool* pbUnreadData) {
  constexpr size_t kPieceUnits = 128 * 1024;
  const size_t nUnits = nBytesAfterMark / 2;  // an odd last byte is ignored
  std::u16string strText;
  strText.reserve(nUnits + kGrowthRoomUnits);
  size_t nDone = 0;
  while (nDone < nUnits) {
    const size_t nWanted = nUnits - nDone < kPieceUnits ? nUnits - nDone : kPieceUnits;
    strText.resize(nDone + nWanted);
    const size_t nRead = file.Read(strText.data() + nDone, nWanted * 2) / 2;
    if constexpr (!kLittleEndian) SwapByteOrder(strText.data() + nDone, nRead);
    const size_t nZero = FindFirstZeroUnit(strText.data() + nDone, nRead);
    if (nZero < nRead && pbUnreadData != nullptr) {
      const char* pAfterZero = reinterpret_cast<const char*>(strText.data() + nDone + nZero + 1);
      *pbUnreadData = HoldsDataBeyond(pAfterZero, (nRead - nZero - 1) * 2, file);
    }
    nDone += nZero;
    if (nZero < nWanted) break;  // a zero unit, or the file ended early
  }
  strText.resize(nDone);
  return strText;
}

std::u16string ReadNarrowText(CFile& file, const unsigned char* pHead, size_t nHead, size_t nLength) {
  std::string strBytes(nLength, '\0');
  std::memcpy(strBytes.data(), pHead, nHead);
  const size_t nRead = nHead + (nLength > nHead ? file.Read(strBytes.data() + nHead, nLength - nHead) : 0);
  const size_t nEnd = std::min(std::strlen(strBytes.c_str()), nRead);
  return DecodeNarrowText(strBytes.data(), nEnd);
}

}  // namespace

std::unique_lock<std::mutex> LockFileOperations() {
  return std::unique_lock<std::mutex>(g_fileOperationsMutex);
}

std::unique_lock<std::mutex> TryLockFileOperations() {
  return std::unique_lock<std::mutex>(g_fileOperationsMutex, std::try_to_lock);
}

std::u16string DeriveLogFolderWindows(std::u16string_view strExePath) {
  const size_t nDot = strExePath.rfind(u'.');
  std::u16string strFolder(nDot == std::u16string_view::npos ? std::u16string_view() : strExePath.substr(0, nDot));
  return strFolder + u"Log";
}

std::u16string DeriveLogFolderPosix(std::u16string_view strExePath) {
  const size_t nSlash = strExePath.rfind(u'/');
  const size_t nNameStart = nSlash == std::u16string_view::npos ? 0 : nSlash + 1;
  const size_t nDot = strExePath.rfind(u'.');
  const bool bHasExtension = nDot != std::u16string_view::npos && nDot > nNameStart;
  std::u16string strFolder(bHasExtension ? strExePath.substr(0, nDot) : strExePath);
  return strFolder + u"Log";
}

std::u16string DeriveLogFolder(std::u16string_view strExePath) {
  return kPathSeparator[0] == u'\\' ? DeriveLogFolderWindows(strExePath) : DeriveLogFolderPosix(strExePath);
}

std::u16string LocateLogFolder() {
  std::u16string strExePath;
  if (!GetHostExecutablePath(strExePath)) return kFallbackFolder;
  std::u16string strFolder = DeriveLogFolder(strExePath);
  if (CreateFolder(strFolder) != folderFailed) return strFolder;
  // A creation that failed for a passing reason (an I/O error, say) while
  // the folder is there already must not send every file of this run to the
  // root of the disk: a folder that exists is used.
  CFileStatus status;
  const bool bFolderThere = CFile::GetStatus(strFolder, status) && (status.m_attribute & attributeDirectory) != 0;
  return bFolderThere ? strFolder : kFallbackFolder;
}

std::u16string MakeLogPath(std::u16string_view strName) {
  std::u16string strPath = g_strLogFolder;
  // The fallback folder is a root that already ends in a separator.
  if (strPath.empty() || strPath.back() != kPathSeparator[0]) strPath += kPathSeparator;
  strPath += strName;
  return strPath;
}

std::u16string FormatDateStamp() { return FormatDateStamp(ReadClock()); }
std::u16string FormatTimeStamp() { return FormatTimeStamp(ReadClock()); }

std::u16string FormatDateStamp(int64_t nTime) {
  std::tm local{};
  const bool bLocal = ConvertToLocalTime(nTime, local);
  char sz[64];
  std::snprintf(sz, sizeof sz, "%4d%02d%02d", bLocal ? local.tm_year + 1900 : 0, bLocal ? local.tm_mon + 1 : 0,
                bLocal ? local.tm_mday : 0);
  return WidenAscii(sz);
}

std::u16string FormatTimeStamp(int64_t nTime) {
  std::tm local{};
  const bool bLocal = ConvertToLocalTime(nTime, local);
  char sz[96];
  std::snprintf(sz, sizeof sz, "%4d.%02d.%02d %02d:%02d:%02d", bLocal ? local.tm_year + 1900 : 0,
                bLocal ? local.tm_mon + 1 : 0, bLocal ? local.tm_mday : 0, bLocal ? local.tm_hour : -1,
                bLocal ? local.tm_min : -1, bLocal ? local.tm_sec : -1);
  return WidenAscii(sz);
}

std::u16string ReadDocumentFile(CFile& file, bool* pbUnreadData) {
  if (pbUnreadData != nullptr) *pbUnreadData = false;
  file.SeekToBegin();
  const size_t nLength = CheckedSize(file.GetLength());
  unsigned char abHead[2] = {0, 0};
  const size_t nHead = file.Read(abHead, nLength < 2 ? nLength : 2);
  if (nHead == 2 && abHead[0] == kByteOrderMark[0] && abHead[1] == kByteOrderMark[1]) {
    return ReadWideText(file, nLength - 2, pbUnreadData);
  }
  return ReadNarrowText(file, abHead, nHead, nLength);
}

void WriteDocumentFile(CFile& file, std::u16string_view strText) {
  file.SeekToBegin();
  file.Write(kByteOrderMark, sizeof kByteOrderMark);
  if constexpr (kLittleEndian) {
    file.Write(strText.data(), strText.size() * 2);
  } else {
    std::u16string strSwapped(strText);
    SwapByteOrder(strSwapped.data(), strSwapped.size());
    file.Write(strSwapped.data(), strSwapped.size() * 2);
  }
  // Anything behind the new content is left over from a longer old one (a
  // text read only up to a zero, or narrow text that shrank when widened):
  // it would follow the document as garbage.
  const uint64_t nWritten = sizeof kByteOrderMark + uint64_t{strText.size()} * 2;
  if (file.GetLength() > nWritten) file.SetLength(nWritten);
  file.Close();
}

void RunLoadSequence() noexcept {
  try {
    auto lock = LockFileOperations();
    // The load runs under the system's loader lock, which every other thread
    // of the host needs to load a library or to start: nothing here waits
    // for another program. Settings that cannot be read at once (a viewer or
    // a backup tool holds the file) are read by the first call of an export,
    // and the purge waits for them: purging on a default retention would
    // delete logs the host asked to keep.
    g_bSettingsDeferred = !LoadSettings(waitNever);
    if (!g_bSettingsDeferred) PurgeExpiredLogs(waitNever);
  } catch (...) {
    // No file and no shortage of memory may fail the host's load: the
    // library then runs with whatever retention it had reached.
  }
}

void RunUnloadSequence(bool bProcessEnding) noexcept {
  // A process that is ending has had its other threads stopped wherever
  // they were, perhaps inside this library or the heap: nothing is touched.
  if (bProcessEnding) return;
  try {
    // A host that unloads the library while another of its threads is
    // still inside it has nothing to gain from a wait here.
    auto lock = TryLockFileOperations();
    if (lock.owns_lock()) WritePendingRecords(waitNever);
  } catch (...) {
  }
}
