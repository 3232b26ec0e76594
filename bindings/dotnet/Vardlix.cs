// Vardlix for .NET hosts (.NET Framework, .NET, Mono): the two exports by
// P/Invoke, and VardlixLog, which takes .NET strings.
//
//   VardlixLog.Write("Info", "Main", "Open", "file=a.xml", "Opened");
//   bool bApplied = VardlixLog.SetLogLife(30);
//
// The library is "vardlix": Vardlix.dll beside the program on Windows (of the
// program's bitness: the 64-bit DLL for an x64 or AnyCPU process on 64-bit
// Windows), libvardlix.so on Linux, found by the loader's search. The log
// folder is derived from the process's executable: for a .NET Framework
// program its .exe; for "dotnet app.dll" dotnet.exe's folder; for Mono the
// mono-sgen executable. See README.md, "Python and .NET hosts".
using System;
using System.Runtime.InteropServices;

namespace Vardlix
{
    // The library's string argument: one pointer to zero-terminated UTF-16
    // text, passed by reference (a pointer to that pointer), the layout of
    // the framework string that the exports take.
    [StructLayout(LayoutKind.Sequential)]
    public struct CVardlixString
    {
        public IntPtr m_pszData;
    }

    public static class NativeMethods
    {
        public const string LibraryName = "vardlix";

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern void WriteVardlix(ref CVardlixString strType, ref CVardlixString strLocation,
                                               ref CVardlixString strOperation, ref CVardlixString strParameters,
                                               ref CVardlixString strDescription);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int SetLogLife(uint nDays);
    }

    public static class VardlixLog
    {
        // Appends one record to the log file of the day; null is taken as
        // the empty string. The library reports no outcome.
        public static void Write(string strType, string strLocation, string strOperation, string strParameters,
                                 string strDescription)
        {
            string[] aTexts = { strType, strLocation, strOperation, strParameters, strDescription };
            // The library reads up to the first zero unit: a text holding one
            // would be stored cut short, without a word.
            string[] aNames = { "strType", "strLocation", "strOperation", "strParameters", "strDescription" };
            for (int i = 0; i < aTexts.Length; ++i)
            {
                if (aTexts[i] != null && aTexts[i].IndexOf('\0') >= 0)
                {
                    throw new ArgumentException("the text holds a NUL character", aNames[i]);
                }
            }
            CVardlixString[] aStrings = new CVardlixString[aTexts.Length];
            try
            {
                // Copies in unmanaged memory, zero-terminated UTF-16: the
                // collector may move a managed string while the call runs.
                for (int i = 0; i < aTexts.Length; ++i)
                {
                    aStrings[i].m_pszData = Marshal.StringToHGlobalUni(aTexts[i] ?? "");
                }
                NativeMethods.WriteVardlix(ref aStrings[0], ref aStrings[1], ref aStrings[2], ref aStrings[3],
                                           ref aStrings[4]);
            }
            finally
            {
                foreach (CVardlixString str in aStrings)
                {
                    if (str.m_pszData != IntPtr.Zero) Marshal.FreeHGlobal(str.m_pszData);
                }
            }
        }

        // Sets the retention, 0 to 36500 days (0 switches logging off and
        // deletes every log file); true when it was written and applied.
        public static bool SetLogLife(uint nDays)
        {
            return NativeMethods.SetLogLife(nDays) == 1;
        }
    }
}
