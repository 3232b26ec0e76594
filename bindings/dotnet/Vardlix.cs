// Vardlix for .NET hosts (.NET Framework, .NET, Mono): the two exports by
// P/Invoke, and VardlixLog, which takes .NET strings.
//
//   VardlixLog.Write("Info", "Main", "Open", "file=a.xml", "Opened");
//   bool bApplied = VardlixLog.SetLogLife(30);
//
// The library is "vardlix": Vardlix.dll on Windows, libvardlix.so on Linux.
// A process loads only a DLL of its own bitness, and an AnyCPU program runs
// as either (32-bit on 64-bit Windows when "Prefer 32-bit" is set, the
// default of .NET Framework programs), so the DLL is chosen when the process
// runs, by IntPtr.Size (CNativeLibrary): a Vardlix.dll beside the program
// is taken as it is; otherwise the one of the process's bitness under
// runtimes\win-x86\native or runtimes\win-x64\native (the NuGet package's
// layout), or x86\ or x64\, beside the program or this assembly. On Linux
// the loader's search finds libvardlix.so. The log folder is derived from
// the process's executable: for a .NET Framework program its .exe; for
// "dotnet app.dll" dotnet.exe's folder; for Mono the mono-sgen executable.
// See README.md, "Python and .NET hosts".
using System;
using System.IO;
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

    // Loads the Windows DLL of the process's bitness by its full path before
    // the first call: P/Invoke then finds "vardlix" among the loaded modules
    // by its name. Nothing is loaded when a Vardlix.dll lies beside the
    // program (the loader takes that one) or off Windows.
    public static class CNativeLibrary
    {
        private static readonly object s_lock = new object();
        private static bool s_bDone;

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true, ExactSpelling = true,
                   EntryPoint = "LoadLibraryW")]
        private static extern IntPtr LoadLibrary(string strPath);

        // The folder names of the process's bitness, chosen now, not when
        // the program was built.
        public static string RuntimeIdentifier
        {
            get { return IntPtr.Size == 8 ? "win-x64" : "win-x86"; }
        }

        public static void LoadForProcess()
        {
            lock (s_lock)
            {
                if (s_bDone) return;
                s_bDone = true;
                if (Environment.OSVersion.Platform != PlatformID.Win32NT) return;
                string strPath = FindDll();
                if (strPath != null && LoadLibrary(strPath) == IntPtr.Zero)
                {
                    throw new DllNotFoundException(strPath + " does not load (error " + Marshal.GetLastWin32Error() +
                                                   ")");
                }
            }
        }

        // The DLL of the process's bitness, or null when one beside the
        // program is to be taken, or none is found (P/Invoke then reports it).
        private static string FindDll()
        {
            string strProgram = AppDomain.CurrentDomain.BaseDirectory;
            if (File.Exists(Path.Combine(strProgram, "Vardlix.dll"))) return null;
            // A single-file or in-memory assembly has no location.
            string strLocation = typeof(CNativeLibrary).Assembly.Location;
            string strAssembly = string.IsNullOrEmpty(strLocation) ? strProgram : Path.GetDirectoryName(strLocation);
            string strArch = IntPtr.Size == 8 ? "x64" : "x86";
            string[] aCandidates = {
                Path.Combine(strProgram, "runtimes", RuntimeIdentifier, "native", "Vardlix.dll"),
                Path.Combine(strProgram, strArch, "Vardlix.dll"),
                Path.Combine(strAssembly, "runtimes", RuntimeIdentifier, "native", "Vardlix.dll"),
                Path.Combine(strAssembly, strArch, "Vardlix.dll"),
                // The NuGet package's own folder: lib\net45\ beside runtimes\.
                Path.Combine(strAssembly, "..", "..", "runtimes", RuntimeIdentifier, "native", "Vardlix.dll"),
            };
            foreach (string strCandidate in aCandidates)
            {
                if (File.Exists(strCandidate)) return Path.GetFullPath(strCandidate);
            }
            return null;
        }
    }

    public static class NativeMethods
    {
        public const string LibraryName = "vardlix";

        static NativeMethods()
        {
            CNativeLibrary.LoadForProcess();
        }

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern void WriteVardlix(ref CVardlixString strType, ref CVardlixString strLocation,
                                               ref CVardlixString strOperation, ref CVardlixString strParameters,
                                               ref CVardlixString strDescription);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int SetLogLife(uint nDays);
    }

    public static class VardlixLog
    {
        static VardlixLog()
        {
            CNativeLibrary.LoadForProcess();
        }

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
