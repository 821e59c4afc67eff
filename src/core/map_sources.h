#pragma once
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_io.h"

struct MainState;

// The list of map sources, kept in "Sources.json" in the program folder:
// {"sources": [ {...}, ... ]}. Scripts write that file too, so keys we do not
// know are kept, and entries we cannot use are left out but written back as
// they were.
inline constexpr const char* SourcesFileName = "Sources.json";
// The name of the source that "Vistrel2.ini" holds; always the first entry.
inline constexpr const char* MainSourceName = "Основной";

struct MapSource {
    std::string Name;
    std::string Url;    // the key-letter form or a template
    std::string Cache;  // as written: relative to the program folder unless absolute
    int MinZoom = 1, MaxZoom = 20;
    std::string Attribution;
    std::string UserAgent;   // empty: the default, see DefaultUserAgent
    int MaxConnections = 2;  // per host, across all workers
    std::vector<std::pair<std::string, std::string>> Headers;  // extra request headers
    std::vector<std::string> NoImagery;  // SHA-256 of "no imagery" answers, lower-case hex
    int RefreshDays = 0;                 // 0: cached tiles are never asked for again
    // Keys of the entry we do not know, each with its value as compact JSON.
    std::map<std::string, std::string> Unknown;

    bool IsMain() const { return Name == MainSourceName; }
};

struct SourceList {
    // The main source first, then the usable entries of the file in order.
    std::vector<MapSource> Sources;
    // Entries that were left out, as compact JSON, to be written back.
    std::vector<std::string> BadEntries;
    // The contact address for the default User-Agent; may be empty.
    std::string Contact;
    // Top-level keys we do not know, as compact JSON.
    std::map<std::string, std::string> Unknown;
    // One line per problem; empty when the file was fine (or absent).
    std::vector<std::string> Problems;
    // The source the settings file holds now: a list source whose address
    // and cache it names, otherwise the main source.
    size_t Active = 0;

    const MapSource* Find(const std::string& name) const;
};

// "Vistrel/2.0 (+contact)", or "Vistrel/2.0" without a contact.
std::string DefaultUserAgent(const std::string& contact);
// The User-Agent a list source sends.
std::string UserAgentOf(const MapSource& source, const std::string& contact);

// The folder of a source's cache ending with '/'.
std::string CacheFolderOf(const MapSource& source, const std::string& programFolder);
// The cache text to keep for a folder: relative when inside the program folder.
std::string CacheTextFor(const std::string& cacheFolder, const std::string& programFolder);

// Empty when `source` may join `others` (its own old entry excluded by the
// caller); otherwise the reason, a text for the user.
std::string CheckSource(const MapSource& source, const std::vector<MapSource>& others,
                        const std::string& programFolder);

// Reads the file's text. The settings file's SourceString and CachePath are
// the main source's, unless they name a list source (chosen in the window):
// then the main source's own come from its entry "Основной". A text that is
// no JSON object of the fixed form gives the main source alone.
SourceList ParseSources(const std::string& json, const std::string& sourceString,
                        const std::string& cachePath, const std::string& programFolder);
// The file's text for the list, the main source first.
std::string SourcesJson(const SourceList& list, const std::string& programFolder);

// Reads the program folder's file; a file that cannot be used at all is kept
// as "Sources.json.bad" and named in Problems.
SourceList LoadSources(const MainState& state);
FileResult SaveSources(const SourceList& list, const std::string& programFolder);
// Makes a source the one in use: SourceString, CachePath (and the settings
// file's custom cache lines that give it), and what its client sends.
// Writing the settings file is the caller's.
void UseSource(MainState& state, SourceList& list, size_t index);
// The settings dialog changes SourceString and CachePath directly: while the
// main source is in use its record follows them; the client of the source in
// use follows its record (edited in the list).
void FollowSettings(MainState& state, SourceList& list);

// The dialog's changes, each saved at once. Empty, or why not (the list
// then stays as it was). The main source keeps its name, address and cache
// (they are the settings file's) and cannot be removed; the source in use
// cannot be removed either.
std::string AddSource(SourceList& list, const MapSource& source, const std::string& programFolder);
std::string ChangeSource(SourceList& list, size_t index, const MapSource& source,
                         const std::string& programFolder);
std::string RemoveSource(SourceList& list, size_t index, const std::string& programFolder);

// The SHA-256 of bytes in lower-case hex, as "noImagery" lists them.
std::string Sha256Hex(std::string_view bytes);
// The cached tile `tileFile` is what the source in use sends where it has no
// imagery: its hash joins that source's list (saved at once) and the file
// goes, so the view asks again and shows the placeholder. Empty, or why not.
std::string MarkNoImagery(MainState& state, SourceList& list, const std::string& tileFile);
// The problems in one message, empty when there were none.
std::string SourceProblemsText(const SourceList& list);
