// Small text tools the tool's parser and views share.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velcorin::cli {

// ASCII letters in either case; commands, options and filter words are ASCII.
char16_t LowerAscii(char16_t c);
bool SameNoCase(std::u16string_view a, std::u16string_view b);

// Rows of cells as aligned columns, two spaces apart, each line without
// trailing blanks. The last cell of a row is not padded, so it sets no
// column's width: a long path in a short row leaves the table's columns alone.
std::string Columns(const std::vector<std::vector<std::string>>& rows);

}  // namespace velcorin::cli
