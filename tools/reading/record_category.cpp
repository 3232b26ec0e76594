#include "reading/record_category.h"

#include "reading/record_filter.h"

TypeCategory CategoryOfType(const std::string& strType) {
  static const struct {
    const char* szWord;
    TypeCategory nCategory;
  } kTypeWords[] = {
      {"error", categoryError},  {"fatal", categoryError},  {"crit", categoryError},  {"fail", categoryError},
      {"错误", categoryError},   {"异常", categoryError},   {"失败", categoryError},  {"严重", categoryError},
      {"warn", categoryWarning}, {"警告", categoryWarning}, {"info", categoryInfo},   {"notice", categoryInfo},
      {"信息", categoryInfo},    {"提示", categoryInfo},    {"debug", categoryDebug}, {"trace", categoryDebug},
      {"调试", categoryDebug},
  };
  const std::string strFolded = FoldCase(strType);
  for (const auto& entry : kTypeWords) {
    if (strFolded.find(entry.szWord) != std::string::npos) return entry.nCategory;
  }
  return categoryOther;
}
