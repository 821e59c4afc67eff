#pragma once
#include <string>
#include <string_view>

// The program's files are Windows-1251 bytes; in memory every text is UTF-8.
std::string Cp1251ToUtf8(std::string_view bytes);
// Characters that Windows-1251 cannot hold become '?'; texts the user typed
// are checked with Cp1251Unencodable first, so that nothing is saved changed.
// The undefined byte 0x98 and U+0098 stand for each other, so every byte
// survives a read and a write.
std::string Utf8ToCp1251(std::string_view text);
// The characters of a UTF-8 text that Windows-1251 cannot hold, each once,
// in order; empty when the whole text can be written.
std::string Cp1251Unencodable(std::string_view text);
// The same characters separated by blanks, for a message ("é 中").
std::string Cp1251UnencodableList(std::string_view text);
// Number of characters (code points) of a UTF-8 text.
size_t Utf8Length(std::string_view text);
// The first `count` characters of a UTF-8 text.
std::string Utf8Left(std::string_view text, size_t count);
// Byte offset of character `index` (the text's size when beyond its end).
size_t Utf8Offset(std::string_view text, size_t index);
