"""The Python and .NET bindings against the real libvardlix.so.

Each test copies the interpreter (python3's real executable, or Mono's
mono-sgen) into a folder of its own and runs a host there, so the library
keeps its logs beside that copy (python3Log, mono-sgenLog) and nothing is
written beside the system's interpreter. The host writes two records (the
Python host a third, of characters that XML forbids) through the binding
and sets the retention; the test then reads the day's file and the
settings file the library left.

    binding_test.py LIBRARY_FOLDER SOURCE_FOLDER [unittest arguments]
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree

LIBRARY_FOLDER = ""  # holds libvardlix.so and libvardlix.so.1
SOURCE_FOLDER = ""   # the repository

# What each host writes: type, location, operation, parameters, description.
# A character beyond 16 bits (two UTF-16 units), markup, an empty field, a
# null one (.NET) or None (Python), and a line break.
EXPECTED_RECORDS = [
    ("Info", "{host}", "Open", "file=a&b<c>.xml", "\u5DF2\u6253\u5F00\U0001F600"),
    ("Error", "", "", "x", "two\nlines"),
]
# The Python host's third record: a colour code, a lone surrogate (a str may
# hold one) and a bell, which XML forbids, read back as their stand-ins.
PYTHON_RECORDS = EXPECTED_RECORDS + [("Warn", "{host}", "\u241B[31m", "\uFFFD", "bell\u2407")]

PYTHON_HOST = """
import sys
import vardlix
library = vardlix.CVardlix(sys.argv[1])
library.WriteVardlix("Info", "Python", "Open", "file=a&b<c>.xml", "\\u5DF2\\u6253\\u5F00\\U0001F600")
library.WriteVardlix("Error", None, "", "x", "two\\nlines")
library.WriteVardlix("Warn", "Python", "\\x1b[31m", "\\ud800", "bell\\x07")
try:  # a text with a NUL is refused, never stored cut short
    library.WriteVardlix("Info", "Python", "Open", "", "before\\0after")
    sys.exit(2)
except ValueError:
    pass
sys.exit(0 if library.SetLogLife(9) else 1)
"""

# The host of the installed wheel: the module-level calls, which load the
# library that the wheel put beside the module.
WHEEL_HOST = """
import os
import sys
import vardlix
if not vardlix.__file__.startswith(sys.prefix):
    sys.exit("vardlix comes from " + vardlix.__file__ + ", not from the environment " + sys.prefix)
if not os.path.isfile(os.path.join(os.path.dirname(vardlix.__file__), vardlix.LIBRARY_NAME)):
    sys.exit("the wheel put no " + vardlix.LIBRARY_NAME + " beside " + vardlix.__file__)
vardlix.WriteVardlix("Info", "Wheel", "Open", "file=a&b<c>.xml", "\\u5DF2\\u6253\\u5F00\\U0001F600")
vardlix.WriteVardlix("Error", None, "", "x", "two\\nlines")
sys.exit(0 if vardlix.SetLogLife(9) else 1)
"""


def ReadDocument(strPath):
    """The element tree of a file the library wrote: a byte-order mark and
    UTF-16LE, whose declaration names an encoding that XML parsers refuse in
    text that is decoded already."""
    with open(strPath, "rb") as file:
        strBytes = file.read()
    assert strBytes[:2] == b"\xff\xfe", strPath + " has no UTF-16LE byte-order mark"
    strText = strBytes[2:].decode("utf-16-le")
    return ElementTree.fromstring(strText[strText.index("?>") + 2:])


def ProjectVersion():
    """The project's version, as CMakeLists.txt states it."""
    with open(os.path.join(SOURCE_FOLDER, "CMakeLists.txt")) as file:
        return re.search(r"project\(Vardlix VERSION ([0-9.]+)", file.read()).group(1)


def PackageCopies(strPackage):
    """(file, name in the output folder) of each copy that the package's
    build/Vardlix.targets makes of a file the package holds."""
    strBuild = os.path.join(strPackage, "build")
    aCopies = []
    for item in ElementTree.parse(os.path.join(strBuild, "Vardlix.targets")).iter():
        if item.tag.endswith("}None"):
            strSource = item.get("Include").replace("$(MSBuildThisFileDirectory)", strBuild + "\\")
            strSource = os.path.normpath(strSource.replace("\\", os.sep))
            if os.path.exists(strSource):
                aCopies.append((strSource, item.get("Link").replace("\\", os.sep)))
    return aCopies


class CBindingTest(unittest.TestCase):
    def setUp(self):
        self.m_strFolder = tempfile.mkdtemp(prefix="vardlix-binding-")

    def tearDown(self):
        shutil.rmtree(self.m_strFolder, ignore_errors=True)

    def CopyInterpreter(self, strExecutable):
        """A copy of the interpreter's real executable in the test's folder."""
        strReal = os.path.realpath(strExecutable)
        strCopy = os.path.join(self.m_strFolder, os.path.basename(strReal))
        shutil.copy2(strReal, strCopy)
        return strCopy

    def Run(self, aCommand, **kwargs):
        result = subprocess.run(aCommand, cwd=self.m_strFolder, capture_output=True, text=True, timeout=120, **kwargs)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def CheckLogFolder(self, strLogName, strHost, aExpectedRecords=EXPECTED_RECORDS, strFolder=None):
        """The records and the retention the host left in strLogName, the
        only folder the library made in strFolder (the test's own folder
        by default)."""
        strFolder = strFolder or self.m_strFolder
        strLog = os.path.join(strFolder, strLogName)
        self.assertEqual([s for s in os.listdir(strFolder) if s.endswith("Log")], [strLogName])
        strDay = os.path.join(strLog, time.strftime("Vardlix%Y%m%d.xml"))
        if not os.path.exists(strDay):  # midnight came between the call and this look
            strDay = os.path.join(strLog, sorted(s for s in os.listdir(strLog) if s.endswith(".xml"))[-1])
        aRecords = [tuple(field.text or "" for field in record)[1:] for record in ReadDocument(strDay)]
        aExpected = [tuple(s.format(host=strHost) for s in record) for record in aExpectedRecords]
        self.assertEqual(aRecords, aExpected)
        settings = ReadDocument(os.path.join(strLog, "SettingInfo.xml"))
        self.assertEqual([element.text for element in settings], ["9"])

    def testPythonHostWritesEveryCharacterThroughTheBinding(self):
        strPython = self.CopyInterpreter(sys.executable)
        # Started through a link of another name: the folder still follows
        # the real executable, python3.11 (a name whose "extension" is .11).
        strLink = os.path.join(self.m_strFolder, "python")
        os.symlink(os.path.basename(strPython), strLink)
        environment = dict(os.environ, PYTHONPATH=os.path.join(SOURCE_FOLDER, "bindings", "python"))
        self.Run([strLink, "-c", PYTHON_HOST, os.path.join(LIBRARY_FOLDER, "libvardlix.so.1")], env=environment)
        strStem = os.path.basename(strPython)
        self.CheckLogFolder(os.path.splitext(strStem)[0] + "Log", "Python", PYTHON_RECORDS)

    def testPythonWheelInstalledByPipWritesRecordsThatReadBack(self):
        # The wheel as packaging/make_wheel.py builds it from this library,
        # installed by pip, offline, into an environment of its own whose
        # interpreter is a copy: the library logs beside that copy.
        strWheels = os.path.join(self.m_strFolder, "wheels")
        self.Run([sys.executable, os.path.join(SOURCE_FOLDER, "packaging", "make_wheel.py"),
                  os.path.join(LIBRARY_FOLDER, "libvardlix.so.1"), ProjectVersion(), strWheels])
        aWheels = os.listdir(strWheels)
        self.assertEqual(len(aWheels), 1, aWheels)
        strEnvironment = os.path.join(self.m_strFolder, "environment")
        self.Run([sys.executable, "-m", "venv", "--copies", strEnvironment])
        strPython = os.path.join(strEnvironment, "bin", "python3")
        # Neither the source tree nor the build tree on any search path: only
        # the installed package can answer "import vardlix".
        environment = {s: v for s, v in os.environ.items() if s not in ("PYTHONPATH", "LD_LIBRARY_PATH")}
        self.Run([strPython, "-m", "pip", "install", "--no-index", "--no-deps", "--disable-pip-version-check",
                  os.path.join(strWheels, aWheels[0])], env=environment)
        self.Run([strPython, "-c", WHEEL_HOST], env=environment)
        self.CheckLogFolder("python3Log", "Wheel", strFolder=os.path.dirname(strPython))

    def testDotNetPackageInstalledFromAFolderFeedWritesRecordsThatReadBack(self):
        # The package as packaging/make_nupkg.py builds it, installed by
        # NuGet from a local folder feed, as a Mono console project takes
        # it: compiled against lib/, run with lib/'s assembly and the native
        # library where the package's build targets copy them.
        strFeed = os.path.join(self.m_strFolder, "feed")
        self.Run([sys.executable, os.path.join(SOURCE_FOLDER, "packaging", "make_nupkg.py"), ProjectVersion(), strFeed,
                  "linux-x64=" + os.path.join(LIBRARY_FOLDER, "libvardlix.so.1")])
        strPackages = os.path.join(self.m_strFolder, "packages")
        self.Run(["nuget", "install", "Vardlix", "-Source", strFeed, "-OutputDirectory", strPackages, "-NonInteractive",
                  "-NoCache"])
        strPackage = os.path.join(strPackages, "Vardlix." + ProjectVersion())
        strAssembly = os.path.join(strPackage, "lib", "net45", "Vardlix.Net.dll")
        strHost = os.path.join(self.m_strFolder, "VardlixHost.exe")
        self.Run(["mcs", "-nologo", "-warnaserror", "-r:" + strAssembly, "-out:" + strHost,
                  os.path.join(SOURCE_FOLDER, "tests", "bindings", "VardlixHost.cs")])
        shutil.copy2(strAssembly, self.m_strFolder)
        for strSource, strLink in PackageCopies(strPackage):
            shutil.copy2(strSource, os.path.join(self.m_strFolder, strLink))
        self.assertTrue(os.path.exists(os.path.join(self.m_strFolder, "libvardlix.so")))
        strMono = self.CopyInterpreter(shutil.which("mono"))
        environment = {s: v for s, v in os.environ.items() if s != "LD_LIBRARY_PATH"}
        self.Run([strMono, strHost], env=environment)
        self.CheckLogFolder("mono-sgenLog", "DotNet")

    def testDotNetHostWritesEveryCharacterThroughTheBinding(self):
        strMono = self.CopyInterpreter(shutil.which("mono"))
        strHost = os.path.join(self.m_strFolder, "VardlixHost.exe")
        self.Run(["mcs", "-nologo", "-warnaserror", "-out:" + strHost,
                  os.path.join(SOURCE_FOLDER, "bindings", "dotnet", "Vardlix.cs"),
                  os.path.join(SOURCE_FOLDER, "tests", "bindings", "VardlixHost.cs")])
        # DllImport("vardlix") finds libvardlix.so through the loader's path.
        environment = dict(os.environ, LD_LIBRARY_PATH=LIBRARY_FOLDER)
        self.Run([strMono, strHost], env=environment)
        self.CheckLogFolder("mono-sgenLog", "DotNet")


if __name__ == "__main__":
    LIBRARY_FOLDER, SOURCE_FOLDER = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
