#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// Numbers as the user and the program's files see them: decimal comma, never
// the C locale (which is never changed), safe on any thread.

// General format, up to 15 significant digits: 55,7558; -37,6176; 1E-5.
std::string FormatGeneral(double value);
// Fixed number of decimals with the comma ("0.000" is FormatFixed(v, 3)).
std::string FormatFixed(double value, int decimals);
// Rounded to `precision` significant digits, then `decimals` decimals with
// thousands separators (a no-break space): 10 299,680.
std::string FormatNumber(double value, int precision, int decimals);
// Thousands-separated integer: 1 234 567.
std::string FormatThousands(int64_t value);

// A real with the decimal comma; blanks around it allowed; a point is not a
// decimal separator.
bool ParseReal(std::string_view text, double& value);
// A signed 32-bit decimal integer; blanks around it allowed.
bool ParseInt(std::string_view text, int& value);
// The integer of a text, 0 when it is not one.
int IntOrZero(std::string_view text);

inline constexpr const char* ThousandsSeparator = "\u00A0";
