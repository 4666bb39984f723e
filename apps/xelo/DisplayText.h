// Texts as a terminal shows them. Item identifiers, values and server texts
// come from outside and may hold any bytes: a table must stay aligned and a
// JSON document valid whatever they are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace xelo::cli {

// `text` with every byte that does not belong to a well-formed UTF-8
// sequence (including overlong forms, surrogates and code points beyond
// U+10FFFF) replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// `text` for one table cell: valid UTF-8, with line breaks, tabs and the
// other control characters written as escapes ("\n", "\t", "\x1b"), so
// that a cell never spans lines or moves the cursor.
std::string CellText(std::string_view text);

// Terminal columns the valid UTF-8 `text` takes: East Asian wide and
// full-width characters count two, combining marks and other zero-width
// characters none, everything else one.
std::size_t DisplayWidth(std::string_view text);

}  // namespace xelo::cli
