"""Builds the Python wheel of Vardlix: the binding with the library inside.

    make_wheel.py LIBRARY VERSION OUTPUT_FOLDER

LIBRARY is libvardlix.so.1 (Linux) or Vardlix.dll (Windows, 32- or 64-bit).
The wheel holds one package, vardlix/, whose __init__.py is
bindings/python/vardlix.py and which holds the library beside it, where the
binding looks first:

    vardlix/__init__.py
    vardlix/libvardlix.so.1      or  vardlix/Vardlix.dll
    vardlix-<version>.dist-info/METADATA, WHEEL, RECORD

The binding calls the library through ctypes, so the wheel fits every
Python 3 (py3-none); only its platform tag is particular. Windows: win32 or
win_amd64, from the DLL's machine (it imports only KERNEL32 and msvcrt).
Linux: manylinux_2_X_<arch>, X the oldest glibc that gives every symbol
version the library asks of glibc and libstdc++ (read with objdump -T), and
only when it needs no library beyond the ones every manylinux system has;
otherwise the plain linux_<arch>, which promises nothing about other
systems. Standard library only: no setuptools, no wheel package.
"""
import base64
import hashlib
import os
import re
import struct
import subprocess
import sys
import zipfile

# The libraries every manylinux system provides that the library may need.
MANYLINUX_LIBRARIES = {"libc.so.6", "libm.so.6", "libstdc++.so.6", "libgcc_s.so.1", "libpthread.so.0", "libdl.so.2",
                       "ld-linux-x86-64.so.2"}
# The glibc of the oldest manylinux systems whose libstdc++ gives these
# symbol versions (GLIBCXX_3.4.29 came with GCC 11, on glibc 2.34 systems).
GLIBCXX_GLIBC = [((3, 4, 19), (2, 17)), ((3, 4, 22), (2, 24)), ((3, 4, 25), (2, 28)), ((3, 4, 28), (2, 31)),
                 ((3, 4, 29), (2, 34)), ((3, 4, 30), (2, 35))]
CXXABI_GLIBC = [((1, 3, 7), (2, 17)), ((1, 3, 10), (2, 24)), ((1, 3, 11), (2, 28)), ((1, 3, 12), (2, 31)),
                ((1, 3, 13), (2, 34))]
PE_MACHINES = {0x14C: "win32", 0x8664: "win_amd64"}
SOURCE_FOLDER = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def ParseVersion(strText):
    return tuple(int(s) for s in strText.split("."))


def NeededGlibc(aVersions, aTable, strName):
    """The glibc of the oldest system in aTable that gives every version of
    aVersions; None when one is newer than the table knows."""
    aNeeded = [v for v in aVersions if v]
    if not aNeeded:
        return (2, 17)
    for tupleGiven, tupleGlibc in aTable:
        if max(aNeeded) <= tupleGiven:
            return tupleGlibc
    print("make_wheel: %s %s is newer than any manylinux system known here" % (strName, max(aNeeded)),
          file=sys.stderr)
    return None


def LinuxTag(strLibrary):
    """manylinux_2_X_<arch> when the library's needs allow it, else linux_<arch>."""
    strArch = os.uname().machine
    strDynamic = subprocess.run(["objdump", "-p", "-T", strLibrary], check=True, capture_output=True,
                                text=True).stdout
    aNeededLibraries = set(re.findall(r"NEEDED\s+(\S+)", strDynamic))

    def Versions(strPrefix):
        return [ParseVersion(s) for s in set(re.findall(r"\b" + strPrefix + r"_([0-9.]+)\b", strDynamic))]

    aGlibc = [NeededGlibc(Versions("GLIBCXX"), GLIBCXX_GLIBC, "GLIBCXX"),
              NeededGlibc(Versions("CXXABI"), CXXABI_GLIBC, "CXXABI"), max(Versions("GLIBC") + [(2, 17)])]
    if None in aGlibc or not aNeededLibraries <= MANYLINUX_LIBRARIES:
        return "linux_" + strArch
    tupleGlibc = max(aGlibc)
    return "manylinux_%d_%d_%s" % (tupleGlibc[0], tupleGlibc[1], strArch)


def WindowsTag(strLibrary):
    """win32 or win_amd64, from the machine field of the DLL's PE header."""
    with open(strLibrary, "rb") as file:
        strHeader = file.read(4096)
    nPe = struct.unpack_from("<I", strHeader, 0x3C)[0]
    if strHeader[nPe:nPe + 4] != b"PE\0\0":
        raise SystemExit("make_wheel: %s is no PE file" % strLibrary)
    nMachine = struct.unpack_from("<H", strHeader, nPe + 4)[0]
    if nMachine not in PE_MACHINES:
        raise SystemExit("make_wheel: %s is for machine 0x%x" % (strLibrary, nMachine))
    return PE_MACHINES[nMachine]


def RecordLine(strName, strData):
    strHash = base64.urlsafe_b64encode(hashlib.sha256(strData).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (strName, strHash, len(strData))


def WheelFiles(strLibrary, strVersion, strTag):
    """(name in the wheel, bytes) of every file but RECORD."""
    bWindows = strLibrary.lower().endswith(".dll")
    strInfo = "vardlix-%s.dist-info" % strVersion
    with open(os.path.join(SOURCE_FOLDER, "bindings", "python", "vardlix.py"), "rb") as file:
        strBinding = file.read()
    with open(strLibrary, "rb") as file:
        strLibraryData = file.read()
    strMetadata = ("Metadata-Version: 2.1\nName: vardlix\nVersion: %s\n"
                   "Summary: Vardlix daily XML log library, with its Python binding\n"
                   "Requires-Python: >=3.6\n" % strVersion)
    strWheel = "Wheel-Version: 1.0\nGenerator: vardlix make_wheel.py\nRoot-Is-Purelib: false\nTag: py3-none-%s\n" % strTag
    return [("vardlix/__init__.py", strBinding),
            ("vardlix/" + ("Vardlix.dll" if bWindows else "libvardlix.so.1"), strLibraryData),
            (strInfo + "/METADATA", strMetadata.encode()), (strInfo + "/WHEEL", strWheel.encode())], strInfo


def MakeWheel(strLibrary, strVersion, strOutput):
    strTag = WindowsTag(strLibrary) if strLibrary.lower().endswith(".dll") else LinuxTag(strLibrary)
    aFiles, strInfo = WheelFiles(strLibrary, strVersion, strTag)
    aRecord = [RecordLine(strName, strData) for strName, strData in aFiles] + [strInfo + "/RECORD,,"]
    aFiles.append((strInfo + "/RECORD", ("\n".join(aRecord) + "\n").encode()))
    os.makedirs(strOutput, exist_ok=True)
    strWheel = os.path.join(strOutput, "vardlix-%s-py3-none-%s.whl" % (strVersion, strTag))
    with zipfile.ZipFile(strWheel, "w", zipfile.ZIP_DEFLATED) as wheel:
        for strName, strData in aFiles:
            info = zipfile.ZipInfo(strName, date_time=(2026, 1, 1, 0, 0, 0))
            # The library keeps its execute bit, as a build leaves it.
            info.external_attr = (0o755 if strName.endswith((".so.1", ".dll")) else 0o644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, strData)
    print(strWheel)
    return strWheel


if __name__ == "__main__":
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    MakeWheel(*sys.argv[1:])
