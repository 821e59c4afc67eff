#pragma once
#include <string>
#include <string_view>

// The program's files are Windows-1251 bytes; in memory every text is UTF-8.
std::string Cp1251ToUtf8(std::string_view bytes);
// Characters that Windows-1251 cannot hold become '?'.
std::string Utf8ToCp1251(std::string_view text);
// Number of characters (code points) of a UTF-8 text.
size_t Utf8Length(std::string_view text);
// The first `count` characters of a UTF-8 text.
std::string Utf8Left(std::string_view text, size_t count);
// Byte offset of character `index` (the text's size when beyond its end).
size_t Utf8Offset(std::string_view text, size_t index);
