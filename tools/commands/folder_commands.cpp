#include "base/text_encoding.h"
#include "commands/commands.h"
#include "platform/platform_files.h"
#include "reading/day_files.h"
#include "reading/log_file.h"
#include "reading/log_stats.h"

int RunStats(const std::string& strFolder, std::ostream& out, std::ostream& err) {
  CFolderStats stats;
  int64_t nNow = ReadClock();
  if (!IsFolder(strFolder) || !GatherFolderStats(strFolder, nNow, stats)) {
    ReportError(err, "no such folder: " + strFolder);
    return exitFailure;
  }
  WriteFolderStats(strFolder, stats, nNow, out);
  return exitOk;
}
