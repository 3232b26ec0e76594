// Conversions between the UTF-16 text of the log files and the UTF-8 text of
// the terminal, the command line and the machine-readable output formats,
// with the tool's answer to text that is not well formed. The arithmetic is
// platform/unicode_text.h's.
#pragma once

#include <string>
#include <string_view>

// UTF-8 of a UTF-16 text. A lone surrogate becomes U+FFFD, so the result is
// always valid UTF-8 whatever the file held.
std::string ToUtf8(std::u16string_view strText);

// UTF-16 of a UTF-8 text. False when the bytes are not valid UTF-8 (an
// overlong form, a surrogate, a cut-off sequence); strText is then undefined.
bool FromUtf8(std::string_view strBytes, std::u16string& strText);

// Reads the code point that starts at nPos of valid UTF-8 and moves nPos past
// it. Malformed bytes are taken one at a time as U+FFFD.
char32_t NextCodePoint(std::string_view strText, size_t& nPos);
