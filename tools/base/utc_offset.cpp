#include "base/utc_offset.h"

bool ParseUtcOffset(std::string_view strText, int& nMinutes) {
  if (strText == "UTC" || strText == "Z") {
    nMinutes = 0;
    return true;
  }
  auto IsDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (strText.size() < 3 || (strText[0] != '+' && strText[0] != '-') || !IsDigit(strText[1]) || !IsDigit(strText[2])) {
    return false;
  }
  const int nHours = (strText[1] - '0') * 10 + (strText[2] - '0');
  std::string_view strRest = strText.substr(3);
  if (!strRest.empty() && strRest[0] == ':') strRest.remove_prefix(1);
  int nRestMinutes = 0;
  if (!strRest.empty()) {
    if (strRest.size() != 2 || !IsDigit(strRest[0]) || !IsDigit(strRest[1])) return false;
    nRestMinutes = (strRest[0] - '0') * 10 + (strRest[1] - '0');
  } else if (strText.size() > 3) {
    return false;  // a colon with no minutes after it
  }
  if (nHours > 14 || nRestMinutes > 59) return false;
  nMinutes = (strText[0] == '-' ? -1 : 1) * (nHours * 60 + nRestMinutes);
  return true;
}
