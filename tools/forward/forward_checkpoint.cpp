#include "forward/forward_checkpoint.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "base/paths.h"
#include "reading/day_files.h"
#include "reading/log_file.h"
#include "system/state_file.h"

namespace {

// A character that is safe in a file name on every system.
bool IsPlainNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

}  // namespace

CheckpointRead ReadCheckpoint(const std::string& strPath, CForwardCheckpoint& checkpoint, std::string& strError) {
  std::string strBytes;
  const StateFileRead nRead = ReadStateFile(strPath, strBytes, strError);
  if (nRead == stateFileMissing) return checkpointMissing;
  if (nRead != stateFileRead) return checkpointBad;
  const nlohmann::json object = nlohmann::json::parse(strBytes, nullptr, false /* no exceptions */);
  CDay day;
  if (!object.is_object() || !object.contains("file") || !object["file"].is_string() ||
      !ParseDayFileName(object["file"].get<std::string>(), day) || !object.contains("records") ||
      !object["records"].is_number_unsigned()) {
    strError = "not a checkpoint of vardlix forward";
    return checkpointBad;
  }
  checkpoint.m_strFile = object["file"].get<std::string>();
  checkpoint.m_nRecords = object["records"].get<uint64_t>();
  // Checkpoints of earlier versions do not say.
  const nlohmann::json read = object.value("read", nlohmann::json());
  checkpoint.m_nRead = read.is_number_unsigned() ? read.get<uint64_t>() : 0;
  checkpoint.m_strTime = object.value("time", "");
  checkpoint.m_strFolder = object.value("folder", "");
  checkpoint.m_strTarget = object.value("to", "");
  return checkpointRead;
}

bool WriteCheckpoint(const std::string& strPath, const CForwardCheckpoint& checkpoint, std::string& strError) {
  nlohmann::ordered_json object;
  object["file"] = checkpoint.m_strFile;
  object["records"] = checkpoint.m_nRecords;
  object["read"] = std::max(checkpoint.m_nRead, checkpoint.m_nRecords);
  object["time"] = checkpoint.m_strTime;
  object["folder"] = checkpoint.m_strFolder;
  object["to"] = checkpoint.m_strTarget;
  return ReplaceStateFile(strPath, object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n",
                          strError);
}

std::string DefaultCheckpointPath(const std::string& strFolder, const std::string& strScheme,
                                  const std::string& strHost, int nPort) {
  std::string strName = "forward-" + strScheme + "-" + strHost + "-" + std::to_string(nPort) + ".json";
  for (char& c : strName) {
    if (!IsPlainNameCharacter(c)) c = '_';
  }
  return JoinPath(strFolder, strName);
}
