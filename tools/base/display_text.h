// A file's text as the tool shows it to a person, in a terminal or a page:
// controls made visible, and the cells that takes.
#pragma once

#include <string>
#include <string_view>

// A field's text made safe for a terminal: C0 controls are shown in caret
// notation ("^[" for escape), C1 controls and the bidi controls that can
// make a line read backwards (U+202A-U+202E, U+2066-U+2069) by their number
// ("<U+202E>"), instead of reaching the terminal; a tab becomes a blank and,
// when bKeepLines is false, a line break becomes "↵". Whatever the tool
// prints of a file for a person goes through here.
std::string MakeDisplayText(const std::string& strField, bool bKeepLines);

// Whether c is shown by its number, and the cells that form takes.
bool IsShownByNumber(char32_t c);
constexpr int kNumberFormWidth = 8;  // "<U+202E>"

// Cells the text of MakeDisplayText(strField, bKeepLines = false) takes;
// with bLines, the widest of its lines (split at CR LF, LF or CR) instead.
int DisplayTextWidth(std::string_view strField, bool bLines);
