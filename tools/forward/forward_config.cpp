#include "forward/forward_config.h"

#include <nlohmann/json.hpp>

#include "system/folder_match.h"
#include "system/state_file.h"

namespace {

// Keys that name what the file is for, not an option of one folder.
constexpr const char* kFoldersKey = "folders";

// Appends the option of one key: "--key value", "--key" for true, nothing
// for false, the option once per item of a list. False when the value is of
// a kind that no option takes.
bool AppendOption(const std::string& strKey, const nlohmann::json& value, ForwardArguments& aArgs) {
  const std::string strOption = "--" + strKey;
  if (value.is_boolean()) {
    if (value.get<bool>()) aArgs.push_back(strOption);
    return true;
  }
  if (value.is_string()) {
    aArgs.insert(aArgs.end(), {strOption, value.get<std::string>()});
    return true;
  }
  if (value.is_number_integer()) {
    aArgs.insert(aArgs.end(), {strOption, value.dump()});
    return true;
  }
  if (!value.is_array()) return false;
  for (const auto& item : value) {
    if (!item.is_string() && !item.is_number_integer()) return false;
    aArgs.insert(aArgs.end(), {strOption, item.is_string() ? item.get<std::string>() : item.dump()});
  }
  return true;
}

// A folder's keys over the file's: "--config" and "--status" are the
// command's own, never a folder's.
bool FolderArguments(const nlohmann::json& shared, const nlohmann::json& folder, ForwardArguments& aArgs,
                     std::string& strError) {
  nlohmann::json merged = shared;
  merged.erase(kFoldersKey);
  if (folder.is_string()) {
    merged["folder"] = folder;
  } else if (folder.is_object()) {
    merged.update(folder);
  } else {
    strError = "a folder is a path or an object of options";
    return false;
  }
  for (const auto& [strKey, value] : merged.items()) {
    if (strKey == "config" || strKey == "status" || strKey == kFoldersKey) {
      strError = "\"" + strKey + "\" is not a key of the file";
      return false;
    }
    if (!AppendOption(strKey, value, aArgs)) {
      strError = "\"" + strKey + "\" takes a string, a number, true or false, or a list of them";
      return false;
    }
  }
  return true;
}

// A folder given by a pattern ("/opt/*/bin/*Log") stands for each folder
// that matches it now, with the entry's other keys; SIGHUP looks again.
// Each keeps its checkpoint in itself: a "state" of their own they cannot
// share.
bool ExpandPattern(const nlohmann::json& entry, std::vector<nlohmann::json>& aEntries, std::string& strError) {
  const nlohmann::json* pFolder = entry.is_string() ? &entry : nullptr;
  if (entry.is_object() && entry.contains("folder") && entry["folder"].is_string()) pFolder = &entry["folder"];
  if (pFolder == nullptr || !IsFolderPattern(pFolder->get<std::string>())) {
    aEntries.push_back(entry);
    return true;
  }
  if (entry.is_object() && entry.contains("state")) {
    strError = "a pattern of folders takes no \"state\": each folder it matches keeps its checkpoint in itself";
    return false;
  }
  for (const std::string& strFolder : MatchFolders(pFolder->get<std::string>())) {
    nlohmann::json matched = entry.is_object() ? entry : nlohmann::json::object();
    matched["folder"] = strFolder;
    aEntries.push_back(std::move(matched));
  }
  return true;
}

}  // namespace

bool ReadForwardConfig(const std::string& strPath, std::vector<ForwardArguments>& aFolders, std::string& strError) {
  aFolders.clear();
  std::string strBytes;
  switch (ReadStateFile(strPath, strBytes, strError)) {
    case stateFileRead:
      break;
    case stateFileMissing:
      strError = strPath + ": no such file";
      return false;
    case stateFileUnreadable:
      strError = strPath + ": " + strError;
      return false;
  }
  const nlohmann::json file = nlohmann::json::parse(strBytes, nullptr, false, true);
  if (!file.is_object()) {
    strError = strPath + ": not a JSON object (see vardlix forward --help)";
    return false;
  }
  const auto folders = file.find(kFoldersKey);
  if (folders == file.end() || !folders->is_array() || folders->empty()) {
    strError = strPath + ": no \"folders\": a list of the log folders to forward";
    return false;
  }
  for (size_t i = 0; i < folders->size(); ++i) {
    std::vector<nlohmann::json> aEntries;
    if (!ExpandPattern((*folders)[i], aEntries, strError)) {
      strError = strPath + ": folder " + std::to_string(i + 1) + ": " + strError;
      return false;
    }
    for (const nlohmann::json& entry : aEntries) {
      ForwardArguments aArgs;
      if (!FolderArguments(file, entry, aArgs, strError)) {
        strError = strPath + ": folder " + std::to_string(i + 1) + ": " + strError;
        return false;
      }
      aFolders.push_back(std::move(aArgs));
    }
  }
  if (aFolders.empty()) {
    strError = strPath + ": no folder matches the patterns of \"folders\" yet";
    return false;
  }
  return true;
}
