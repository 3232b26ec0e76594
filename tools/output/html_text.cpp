#include "output/html_text.h"

#include "base/display_text.h"

void AppendHtml(std::string& strOut, std::string_view strText, bool bKeepLines) {
  const std::string strVisible = MakeDisplayText(std::string(strText), bKeepLines);
  for (size_t i = 0; i < strVisible.size(); ++i) {
    const char c = strVisible[i];
    switch (c) {
      case '&':
        strOut += "&amp;";
        break;
      case '<':
        strOut += "&lt;";
        break;
      case '>':
        strOut += "&gt;";
        break;
      case '"':
        strOut += "&quot;";
        break;
      case '\'':
        strOut += "&#39;";
        break;
      case '\r':  // CR LF, LF and CR are each one line break
        if (i + 1 == strVisible.size() || strVisible[i + 1] != '\n') strOut += '\n';
        break;
      default:
        strOut += c;
    }
  }
}
