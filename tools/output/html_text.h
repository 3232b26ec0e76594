// Text for an HTML page: what the report's page and its chart write of a
// file's content.
#pragma once

#include <string>
#include <string_view>

// Text of a file for the page: its controls shown as MakeDisplayText shows
// them, then escaped for HTML text and attribute values alike. With
// bKeepLines, line breaks stay (as LF).
void AppendHtml(std::string& strOut, std::string_view strText, bool bKeepLines = false);
