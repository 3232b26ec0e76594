// Terminal cell widths of UTF-8 text, for laying out aligned columns.
//
// Characters of the East Asian Wide and Fullwidth classes (CJK ideographs,
// kana, Hangul syllables, fullwidth forms, most emoji) take two cells;
// combining marks and zero-width format characters take none; everything
// else, the ambiguous class included, takes one.
#pragma once

#include <string>
#include <string_view>

// Cells one code point takes: 0, 1 or 2.
int CodePointWidth(char32_t cPoint);

// Cells a UTF-8 text takes on one line.
int DisplayWidth(std::string_view strText);

// The longest prefix of strText that fits nWidth cells; when the text had to
// be cut, the prefix ends in "…" and still fits. A wide character that would
// straddle the limit is left out whole.
std::string FitToWidth(std::string_view strText, int nWidth);

// strText followed by blanks up to nWidth cells (no blanks when it is wider).
std::string PadToWidth(std::string_view strText, int nWidth);
