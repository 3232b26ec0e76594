/* Vardlix: daily XML log files for a host application.
 *
 * The host loads the library and calls two functions:
 *   WriteVardlix  appends one record (time, type, location, operation,
 *                 parameters, description) to the log file of the day;
 *   SetLogLife    sets for how many days log files are kept (0 switches
 *                 logging off and deletes every log file).
 * The log folder is the host executable's path without its extension,
 * followed by "Log"; it holds the daily files VardlixYYYYMMDD.xml and the
 * hidden settings file SettingInfo.xml.
 *
 * Neither function ever lets an exception or an error escape: a record whose
 * file another program holds waits on disk, in the day's pending file, for a
 * later call; one that cannot be written at all is dropped, and SetLogLife
 * reports by its result.
 * Both may be called from any thread; calls are serialised inside the
 * library and, through file locks, across processes.
 *
 * Usable from C and from C++. */
#ifndef VARDLIX_H
#define VARDLIX_H

#include <stdint.h>

#if defined(_WIN32)
#include <stddef.h> /* wchar_t, for C */
#define VARDLIX_CALL __cdecl
#define VARDLIX_API
typedef wchar_t VardlixChar;
#else
#define VARDLIX_CALL
#if defined(VARDLIX_BUILDING_LIBRARY)
#define VARDLIX_API __attribute__((visibility("default")))
#else
#define VARDLIX_API
#endif
#if defined(__cplusplus)
typedef char16_t VardlixChar;
#else
#include <uchar.h>
typedef char16_t VardlixChar;
#endif
#endif

/* A string argument: one pointer to zero-terminated UTF-16 code units, and
 * nothing else. This is the memory layout of the wide string object of
 * ATL and MFC (CStringW, CString in a Unicode build), whose hosts pass their
 * strings as they are (see the overload below); any other host wraps a
 * pointer: CVardlixString s = { u"text" };
 * A null pointer is taken as the empty string. */
typedef struct CVardlixString {
  const VardlixChar* m_pszData; /* zero-terminated UTF-16 text */
} CVardlixString;

#if defined(__cplusplus)
/* C++ passes the string objects by reference, C by pointer: the same thing
 * at the machine level. */
#define VARDLIX_STRING_ARG const CVardlixString&
extern "C" {
#else
#define VARDLIX_STRING_ARG const CVardlixString*
#endif

/* Sets the retention to nDays (0 to 36500) and deletes the log files that
 * are older. Returns 1 when the setting was written and applied, 0 when it
 * was refused (more than 36500) or could not be written. */
VARDLIX_API int VARDLIX_CALL SetLogLife(uint32_t nDays);

/* Appends one record to the log file of the current day. Does nothing while
 * the retention is 0. No result: a record that cannot be written is lost. */
VARDLIX_API void VARDLIX_CALL WriteVardlix(VARDLIX_STRING_ARG strType, VARDLIX_STRING_ARG strLocation,
                                           VARDLIX_STRING_ARG strOperation, VARDLIX_STRING_ARG strParameters,
                                           VARDLIX_STRING_ARG strDescription);

#if defined(__cplusplus)
}
#endif

/* ATL's and MFC's own strings. Their headers (atlstr.h, afxstr.h, which
 * afx.h and the usual pch.h include) define CStringW: a CStringT whose only
 * member points to its zero-terminated characters, which is
 * CVardlixString's layout. When one of them came before this header, a
 * host passes its strings unchanged, WriteVardlix(strType, strLocation, ...)
 * with CString in a Unicode build, through this inline overload; it calls
 * the same export with the same arguments, so the DLL and its exports are
 * the same for every host. Include this header after the framework's. */
#if defined(__cplusplus) && defined(_WIN32) && (defined(__ATLSTR_H__) || defined(__AFXSTR_H__))
inline void WriteVardlix(const CStringW& strType, const CStringW& strLocation, const CStringW& strOperation,
                         const CStringW& strParameters, const CStringW& strDescription) {
  static_assert(sizeof(CStringW) == sizeof(CVardlixString), "CStringW is one pointer to its characters");
  WriteVardlix(reinterpret_cast<const CVardlixString&>(strType), reinterpret_cast<const CVardlixString&>(strLocation),
               reinterpret_cast<const CVardlixString&>(strOperation),
               reinterpret_cast<const CVardlixString&>(strParameters),
               reinterpret_cast<const CVardlixString&>(strDescription));
}
#endif

#endif /* VARDLIX_H */
