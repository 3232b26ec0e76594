// What a record's type says of it: the one notion of an error and a warning
// that show's colours and --errors/--warnings, stats, report and the lnav
// format (tools/lnav/vardlix_log.json, whose level patterns follow the
// words below) all go by.
#pragma once

#include <string>

// Found from words that hosts commonly use for their types ("Error",
// "FATAL", "警告", "trace"...), anywhere in the type and in any case; the
// first word of the list that the type holds decides, errors first.
enum TypeCategory : int {
  categoryError,    // error, fatal, crit, fail, 错误, 异常, 失败, 严重
  categoryWarning,  // warn, 警告
  categoryInfo,     // info, notice, 信息, 提示
  categoryDebug,    // debug, trace, 调试
  categoryOther,    // none of the words
};
TypeCategory CategoryOfType(const std::string& strType);
