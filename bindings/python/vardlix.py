"""Vardlix for Python hosts: WriteVardlix and SetLogLife through ctypes.

Standard library only. Loads the platform's library (Vardlix.dll on
Windows, libvardlix.so.1 elsewhere) and passes every string as UTF-16 on
both platforms: the library takes UTF-16 code units, whatever size the
platform's wchar_t has (16 bits on Windows, 32 on Linux), so ctypes'
c_wchar_p is never used for its strings.

    import vardlix
    vardlix.WriteVardlix("Info", "Main", "Open", "file=a.xml", "Opened")
    vardlix.SetLogLife(30)

The log folder is derived from the interpreter's real executable, not from
the script: for Debian's python3 (a link to python3.11) it is python3Log
beside /usr/bin/python3.11. See README.md, "Python and .NET hosts".
"""
import ctypes
import os
import sys

__all__ = ["CVardlix", "WriteVardlix", "SetLogLife"]

LIBRARY_NAME = "Vardlix.dll" if sys.platform == "win32" else "libvardlix.so.1"


class CVardlixString(ctypes.Structure):
    """The library's string argument: one pointer to zero-terminated UTF-16
    code units. Passed by reference, as C++ hosts pass it."""

    _fields_ = [("m_pszData", ctypes.c_void_p)]


def _Utf16Buffer(strText):
    """Zero-terminated UTF-16LE units of strText in memory that ctypes owns;
    None (no text) becomes the empty string, as the library takes a null
    pointer."""
    if strText is None:
        strText = ""
    if not isinstance(strText, str):
        raise TypeError("WriteVardlix takes str, not %s" % type(strText).__name__)
    # The library reads up to the first zero unit: a text holding one would
    # be stored cut short, without a word.
    if "\0" in strText:
        raise ValueError("WriteVardlix text holds a NUL character at %d" % strText.index("\0"))
    # "surrogatepass" keeps a lone surrogate as the one code unit it is; the
    # library stores U+FFFD in its place, as XML allows no lone surrogate.
    return ctypes.create_string_buffer(strText.encode("utf-16-le", "surrogatepass") + b"\0\0")


class CVardlix:
    """One loaded library. strPath names the library file; by default the
    one beside this module is taken, or else the platform's search finds
    LIBRARY_NAME."""

    def __init__(self, strPath=None):
        if strPath is None:
            strBeside = os.path.join(os.path.dirname(os.path.abspath(__file__)), LIBRARY_NAME)
            strPath = strBeside if os.path.exists(strBeside) else LIBRARY_NAME
        # CDLL: both exports use the C calling convention (__cdecl on 32-bit
        # Windows; x86-64 has only the one).
        self.m_pLibrary = ctypes.CDLL(strPath)
        self.m_pWrite = self.m_pLibrary.WriteVardlix
        self.m_pWrite.argtypes = [ctypes.POINTER(CVardlixString)] * 5
        self.m_pWrite.restype = None
        self.m_pSetLife = self.m_pLibrary.SetLogLife
        self.m_pSetLife.argtypes = [ctypes.c_uint32]
        self.m_pSetLife.restype = ctypes.c_int

    def WriteVardlix(self, strType, strLocation, strOperation, strParameters, strDescription):
        """Appends one record to the log file of the day. Returns nothing:
        the library reports no outcome (vardlix show tells what arrived)."""
        aBuffers = [_Utf16Buffer(s) for s in (strType, strLocation, strOperation, strParameters, strDescription)]
        aStrings = [CVardlixString(ctypes.cast(b, ctypes.c_void_p)) for b in aBuffers]
        # The buffers live until the call returns: the library copies the
        # text before it does anything else.
        self.m_pWrite(*[ctypes.byref(s) for s in aStrings])

    def SetLogLife(self, nDays):
        """Sets the retention (0 to 36500 days; 0 switches logging off and
        deletes every log file). True when it was written and applied."""
        if not 0 <= nDays <= 0xFFFFFFFF:
            return False
        return self.m_pSetLife(nDays) == 1


_g_pDefault = None


def _Default():
    global _g_pDefault
    if _g_pDefault is None:
        _g_pDefault = CVardlix()
    return _g_pDefault


def WriteVardlix(strType, strLocation, strOperation, strParameters, strDescription):
    """CVardlix().WriteVardlix with the library found by default."""
    _Default().WriteVardlix(strType, strLocation, strOperation, strParameters, strDescription)


def SetLogLife(nDays):
    """CVardlix().SetLogLife with the library found by default."""
    return _Default().SetLogLife(nDays)
