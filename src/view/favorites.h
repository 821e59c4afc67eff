#pragma once
#include <optional>
#include <string>
#include <string_view>

// Favourite places of the search panel: one 55-character line per place, at
// fixed columns (1-based): name 1-20, zoom 22-23, N/S 25, latitude text
// 26-39, W/E 41, longitude text 42-55; blanks elsewhere. Lines are UTF-8 in
// memory and every count is in characters; the file is Windows-1251.

inline constexpr int FavoriteLineLength = 55;
inline constexpr int FavoriteNameLength = 20;
inline constexpr const char* NewFavoriteNameText = "---Новое имя---";

// The name as the box keeps it: cut to 20 characters, filled up with blanks.
std::string FavoriteName(std::string_view name);

// The line for the panel's contents: the name (FavoriteName), the zoom box's
// text, the hemisphere boxes' texts and the two edits' texts, each starting
// at its column; the result is cut to 55 characters.
std::string BuildFavoriteLine(std::string_view name, std::string_view zoomText,
                              std::string_view latHemisphere, std::string_view latText,
                              std::string_view lonHemisphere, std::string_view lonText);

struct FavoriteFields {
    int ZoomIndex = 0;      // item index of the zoom box: the zoom minus one
    int LatHemisphere = 0;  // 0 N, 1 S
    int LonHemisphere = 1;  // 0 W, 1 E
    std::string LatText;
    std::string LonText;
};

// The panel's contents of a line longer than 54 characters; none for shorter
// ones (the list's "____________________ N E" placeholder among them). A zoom
// that is not an integer counts as 1.
std::optional<FavoriteFields> ParseFavoriteLine(std::string_view line);
