"""Builds the NuGet package of Vardlix: the .NET binding and the native libraries.

    make_nupkg.py VERSION OUTPUT_FOLDER RID=LIBRARY...

RID is win-x86, win-x64 or linux-x64, LIBRARY the Vardlix.dll of that
bitness or libvardlix.so.1. Gives OUTPUT_FOLDER/Vardlix.<VERSION>.nupkg:

    Vardlix.nuspec
    lib/net45/Vardlix.Net.dll               bindings/dotnet/Vardlix.cs, by mcs
    runtimes/win-x86/native/Vardlix.dll
    runtimes/win-x64/native/Vardlix.dll
    runtimes/linux-x64/native/libvardlix.so
    build/Vardlix.targets                   copies for .NET Framework projects

The binding is compiled by Mono's mcs against its .NET Framework 4.5
profile, the closest it comes to netstandard2.0 (it has no netstandard
reference assemblies): .NET Framework 4.5 and later, Mono, and .NET Core or
.NET 5 and later (NuGet's compatibility fallback) all take it. The managed
assembly is Vardlix.Net.dll, not Vardlix.dll, the native DLL's name. A
package is a zip in the Open Packaging Conventions: [Content_Types].xml
and the relationship naming the manifest are what NuGet's readers look for.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

SOURCE_FOLDER = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NATIVE_NAMES = {"win-x86": "Vardlix.dll", "win-x64": "Vardlix.dll", "linux-x64": "libvardlix.so"}

NUSPEC = """<?xml version="1.0" encoding="utf-8"?>
<package xmlns="http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd">
  <metadata>
    <id>Vardlix</id>
    <version>{version}</version>
    <title>Vardlix</title>
    <authors>The Vardlix developers</authors>
    <owners>The Vardlix developers</owners>
    <requireLicenseAcceptance>false</requireLicenseAcceptance>
    <description>Vardlix daily XML log library: VardlixLog.Write and VardlixLog.SetLogLife for .NET, with the native library of each platform (win-x86, win-x64, linux-x64), the Windows one chosen by the process's bitness at run time.</description>
    <copyright>Copyright (C) 2026 The Vardlix developers</copyright>
    <tags>logging xml native</tags>
    <dependencies>
      <group targetFramework=".NETFramework4.5" />
    </dependencies>
  </metadata>
</package>
"""

# .NET Framework and Mono projects take no native files from runtimes/:
# these copies put the DLL of each bitness into x86\ and x64\ of the output
# folder, where the binding looks for the one of the running process, and
# the Linux library beside the program. .NET Core and .NET 5 projects copy
# runtimes/ themselves and skip this.
TARGETS = """<?xml version="1.0" encoding="utf-8"?>
<Project xmlns="http://schemas.microsoft.com/developer/msbuild/2003">
  <ItemGroup Condition="'$(TargetFrameworkIdentifier)' == '.NETFramework'">
    <None Include="$(MSBuildThisFileDirectory)..\\runtimes\\win-x86\\native\\Vardlix.dll"
          Condition="Exists('$(MSBuildThisFileDirectory)..\\runtimes\\win-x86\\native\\Vardlix.dll')"
          Link="x86\\Vardlix.dll" CopyToOutputDirectory="PreserveNewest" Visible="false" />
    <None Include="$(MSBuildThisFileDirectory)..\\runtimes\\win-x64\\native\\Vardlix.dll"
          Condition="Exists('$(MSBuildThisFileDirectory)..\\runtimes\\win-x64\\native\\Vardlix.dll')"
          Link="x64\\Vardlix.dll" CopyToOutputDirectory="PreserveNewest" Visible="false" />
    <None Include="$(MSBuildThisFileDirectory)..\\runtimes\\linux-x64\\native\\libvardlix.so"
          Condition="Exists('$(MSBuildThisFileDirectory)..\\runtimes\\linux-x64\\native\\libvardlix.so')"
          Link="libvardlix.so" CopyToOutputDirectory="PreserveNewest" Visible="false" />
  </ItemGroup>
</Project>
"""

RELATIONSHIPS = """<?xml version="1.0" encoding="utf-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
  <Relationship Type="http://schemas.microsoft.com/packaging/2010/07/manifest" Target="/Vardlix.nuspec" Id="R1" />
</Relationships>
"""


def CompileBinding(strFolder):
    """Vardlix.Net.dll of bindings/dotnet/Vardlix.cs, in strFolder."""
    strAssembly = os.path.join(strFolder, "Vardlix.Net.dll")
    subprocess.run(["mcs", "-nologo", "-warnaserror", "-optimize+", "-target:library",
                    "-out:" + strAssembly, os.path.join(SOURCE_FOLDER, "bindings", "dotnet", "Vardlix.cs")],
                   check=True)
    with open(strAssembly, "rb") as file:
        return file.read()


def ContentTypes(aNames):
    """[Content_Types].xml: one default type for each extension in the package."""
    aExtensions = sorted({os.path.splitext(s)[1][1:] for s in aNames} | {"rels"})
    strDefaults = "".join('  <Default Extension="%s" ContentType="application/octet" />\n' % s for s in aExtensions)
    return ('<?xml version="1.0" encoding="utf-8"?>\n'
            '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">\n%s</Types>\n' % strDefaults)


def PackageFiles(strVersion, aNatives):
    """(name in the package, bytes) of every file but the OPC ones."""
    aFiles = [("Vardlix.nuspec", NUSPEC.format(version=strVersion).encode()),
              ("build/Vardlix.targets", TARGETS.encode())]
    strTemporary = tempfile.mkdtemp(prefix="vardlix-nupkg-")
    try:
        aFiles.append(("lib/net45/Vardlix.Net.dll", CompileBinding(strTemporary)))
    finally:
        shutil.rmtree(strTemporary, ignore_errors=True)
    for strNative in aNatives:
        strRid, _, strLibrary = strNative.partition("=")
        if strRid not in NATIVE_NAMES or not strLibrary:
            raise SystemExit("make_nupkg: %s is not RID=LIBRARY with RID one of %s" % (strNative, sorted(NATIVE_NAMES)))
        with open(strLibrary, "rb") as file:
            aFiles.append(("runtimes/%s/native/%s" % (strRid, NATIVE_NAMES[strRid]), file.read()))
    return aFiles


def MakePackage(strVersion, strOutput, aNatives):
    aFiles = PackageFiles(strVersion, aNatives)
    aFiles += [("_rels/.rels", RELATIONSHIPS.encode()),
               ("[Content_Types].xml", ContentTypes([s for s, _ in aFiles]).encode())]
    os.makedirs(strOutput, exist_ok=True)
    strPackage = os.path.join(strOutput, "Vardlix.%s.nupkg" % strVersion)
    with zipfile.ZipFile(strPackage, "w", zipfile.ZIP_DEFLATED) as package:
        for strName, strData in aFiles:
            package.writestr(zipfile.ZipInfo(strName, date_time=(2026, 1, 1, 0, 0, 0)), strData,
                             zipfile.ZIP_DEFLATED)
    print(strPackage)
    return strPackage


if __name__ == "__main__":
    if len(sys.argv) < 4:
        raise SystemExit(__doc__)
    MakePackage(sys.argv[1], sys.argv[2], sys.argv[3:])
