// Paths as the tool takes them: "/" separates on both platforms, and on
// Windows "\" as well; a folder is joined to a name with the platform's own
// separator (kPathSeparator).
#pragma once

#include <string>

// The file name part of a path ("Vardlix20110408.xml").
std::string FileNameOf(const std::string& strPath);
// The folder part of a path, without the separator before the name unless
// the folder is a root ("/", "C:\"); empty when the path has no folder part.
std::string FolderOf(const std::string& strPath);
// Whether the path has a folder part, rather than being a bare name.
bool HasFolderPart(const std::string& strPath);
// strFolder + separator + strName, without doubling a separator.
std::string JoinPath(const std::string& strFolder, const std::string& strName);
