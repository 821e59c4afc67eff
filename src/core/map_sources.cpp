#include "core/map_sources.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <set>

#include "core/main_state.h"
#include "geo/tile_key.h"

namespace {

const char* const KnownKeys[] = {"name",    "url",         "cache",      "minZoom",
                                 "maxZoom", "attribution", "userAgent",  "maxConnections",
                                 "headers", "noImagery",   "refreshDays"};

std::string Compact(const QJsonValue& value) {
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact).toStdString();
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact).toStdString();
    // A bare value: wrapped in an array and unwrapped again.
    const std::string text =
        QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).toStdString();
    return text.substr(1, text.size() - 2);
}

QJsonValue FromCompact(const std::string& text) {
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString("[" + text + "]"));
    return doc.isArray() && !doc.array().isEmpty() ? doc.array().at(0) : QJsonValue();
}

bool IsHex64(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// A header name is a token: no blanks, no colon, nothing that would end a line.
bool IsHeaderName(const std::string& name) {
    if (name.empty()) return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return c > 32 && c < 127 && c != ':'; });
}

std::string Text(const QJsonValue& value) {
    return value.toString().toStdString();
}

// An optional whole number within [low, high]; false with `why` otherwise.
bool ReadInt(const QJsonObject& entry, const char* key, int low, int high, int& out,
             std::string& why) {
    const QJsonValue value = entry.value(key);
    if (value.isUndefined()) return true;
    const double number = value.toDouble(-1e300);
    if (!value.isDouble() || number != static_cast<double>(static_cast<long long>(number)) ||
        number < low || number > high) {
        why = std::string("«") + key + "» не целое число от " + std::to_string(low) + " до " +
              std::to_string(high);
        return false;
    }
    out = static_cast<int>(number);
    return true;
}

bool ReadText(const QJsonObject& entry, const char* key, std::string& out, std::string& why) {
    const QJsonValue value = entry.value(key);
    if (value.isUndefined()) return true;
    if (!value.isString()) {
        why = std::string("«") + key + "» не текст";
        return false;
    }
    out = Text(value);
    return true;
}

// One entry of the file into `source`; false with the reason otherwise.
bool ReadEntry(const QJsonObject& entry, MapSource& source, std::string& why) {
    if (!ReadText(entry, "name", source.Name, why) || !ReadText(entry, "url", source.Url, why) ||
        !ReadText(entry, "cache", source.Cache, why) ||
        !ReadText(entry, "attribution", source.Attribution, why) ||
        !ReadText(entry, "userAgent", source.UserAgent, why) ||
        !ReadInt(entry, "minZoom", 1, 20, source.MinZoom, why) ||
        !ReadInt(entry, "maxZoom", 1, 20, source.MaxZoom, why) ||
        !ReadInt(entry, "maxConnections", 1, 16, source.MaxConnections, why) ||
        !ReadInt(entry, "refreshDays", 0, 36500, source.RefreshDays, why))
        return false;
    if (const QJsonValue headers = entry.value("headers"); !headers.isUndefined()) {
        if (!headers.isObject()) {
            why = "«headers» не объект";
            return false;
        }
        const QJsonObject object = headers.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!it.value().isString()) {
                why = "заголовок «" + it.key().toStdString() + "» не текст";
                return false;
            }
            source.Headers.emplace_back(it.key().toStdString(), Text(it.value()));
        }
    }
    if (const QJsonValue hashes = entry.value("noImagery"); !hashes.isUndefined()) {
        if (!hashes.isArray()) {
            why = "«noImagery» не массив";
            return false;
        }
        for (const QJsonValue& hash : hashes.toArray()) {
            const std::string hex = Lower(Text(hash));
            if (!hash.isString() || !IsHex64(hex)) {
                why = "«noImagery» содержит не SHA-256";
                return false;
            }
            source.NoImagery.push_back(hex);
        }
    }
    const QStringList keys = entry.keys();
    for (const QString& key : keys) {
        const std::string name = key.toStdString();
        if (std::find(std::begin(KnownKeys), std::end(KnownKeys), name) == std::end(KnownKeys))
            source.Unknown[name] = Compact(entry.value(key));
    }
    return true;
}

QJsonObject EntryJson(const MapSource& source, const std::string& programFolder, bool asWritten) {
    QJsonObject entry;
    for (const auto& [key, value] : source.Unknown)
        entry.insert(QString::fromStdString(key), FromCompact(value));
    entry.insert("name", QString::fromStdString(source.Name));
    entry.insert("url", QString::fromStdString(source.Url));
    entry.insert("cache",
                 QString::fromStdString(asWritten ? source.Cache
                                                  : CacheTextFor(source.Cache, programFolder)));
    entry.insert("minZoom", source.MinZoom);
    entry.insert("maxZoom", source.MaxZoom);
    entry.insert("attribution", QString::fromStdString(source.Attribution));
    if (!source.UserAgent.empty())
        entry.insert("userAgent", QString::fromStdString(source.UserAgent));
    entry.insert("maxConnections", source.MaxConnections);
    QJsonObject headers;
    for (const auto& [name, value] : source.Headers)
        headers.insert(QString::fromStdString(name), QString::fromStdString(value));
    entry.insert("headers", headers);
    QJsonArray hashes;
    for (const std::string& hash : source.NoImagery) hashes.append(QString::fromStdString(hash));
    entry.insert("noImagery", hashes);
    entry.insert("refreshDays", source.RefreshDays);
    return entry;
}

std::string WithSlash(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

// "a/./b//c/../" as "a/b/": two spellings of one folder compare equal.
std::string NormalFolder(const std::string& folder) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= folder.size()) {
        const size_t end = std::min(folder.find('/', at), folder.size());
        const std::string part = folder.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string out = "/";
    for (const std::string& part : parts) out += part + "/";
    return out;
}

}  // namespace

const MapSource* SourceList::Find(const std::string& name) const {
    for (const MapSource& source : Sources)
        if (source.Name == name) return &source;
    return nullptr;
}

std::string DefaultUserAgent(const std::string& contact) {
    return contact.empty() ? "Vistrel/2.0" : "Vistrel/2.0 (+" + contact + ")";
}

std::string UserAgentOf(const MapSource& source, const std::string& contact) {
    return source.UserAgent.empty() ? DefaultUserAgent(contact) : source.UserAgent;
}

std::string CacheFolderOf(const MapSource& source, const std::string& programFolder) {
    if (!source.Cache.empty() && source.Cache.front() == '/') return WithSlash(source.Cache);
    return WithSlash(programFolder + source.Cache);
}

std::string CacheTextFor(const std::string& cacheFolder, const std::string& programFolder) {
    if (!programFolder.empty() && cacheFolder.starts_with(programFolder) &&
        cacheFolder.size() > programFolder.size())
        return cacheFolder.substr(programFolder.size());
    return cacheFolder;
}

std::string CheckSource(const MapSource& source, const std::vector<MapSource>& others,
                        const std::string& programFolder) {
    if (source.Name.empty()) return "нет имени";
    if (HasLineBreak(source.Name)) return "имя в несколько строк";
    for (const MapSource& other : others)
        if (other.Name == source.Name) return "имя «" + source.Name + "» уже есть";
    if (source.Url.empty()) return "нет адреса";
    if (HasLineBreak(source.Url) || source.Url.find(' ') != std::string::npos)
        return "адрес с пробелом или переводом строки";
    if (const std::string why = CheckUrlTemplate(source.Url); !why.empty()) return why;
    if (source.Cache.empty()) return "нет папки кэша";
    if (source.MinZoom > source.MaxZoom) return "«minZoom» больше «maxZoom»";
    if (HasLineBreak(source.UserAgent)) return "«userAgent» в несколько строк";
    for (const auto& [name, value] : source.Headers) {
        // Request lines are built from these: a line break would smuggle in
        // headers (or a request) of its own.
        if (!IsHeaderName(name)) return "заголовок «" + name + "»: недопустимое имя";
        if (HasLineBreak(value)) return "заголовок «" + name + "» в несколько строк";
    }
    const std::string folder = NormalFolder(CacheFolderOf(source, programFolder));
    for (const MapSource& other : others)
        if (NormalFolder(CacheFolderOf(other, programFolder)) == folder)
            return "папка кэша уже занята источником «" + other.Name + "»";
    return {};
}

SourceList ParseSources(const std::string& json, const std::string& sourceString,
                        const std::string& cachePath, const std::string& programFolder) {
    SourceList list;
    MapSource main;
    main.Name = MainSourceName;
    main.Url = sourceString;
    main.Cache = cachePath;
    list.Sources.push_back(main);
    if (json.empty()) return list;

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    if (!doc.isObject() || !doc.object().value("sources").isArray()) {
        list.Problems.push_back(doc.isNull()
                                    ? "файл не JSON: " + error.errorString().toStdString() +
                                          " (позиция " + std::to_string(error.offset) + ")"
                                    : "нет массива «sources»");
        return list;
    }
    const QJsonObject top = doc.object();
    for (auto it = top.begin(); it != top.end(); ++it) {
        if (it.key() == "contact")
            list.Contact = Text(it.value());
        else if (it.key() != "sources")
            list.Unknown[it.key().toStdString()] = Compact(it.value());
    }
    if (HasLineBreak(list.Contact)) list.Contact.clear();

    // First every entry as written, then the main source settled, then the
    // checks: whether an entry clashes with the main source depends on
    // which source the settings file holds now.
    const QJsonArray entries = top.value("sources").toArray();
    struct Read {
        qsizetype Index;
        MapSource Source;
        std::string Why;
    };
    std::vector<Read> read;
    bool mainSeen = false;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        Read r{i, {}, {}};
        if (!entries.at(i).isObject())
            r.Why = "не объект";
        else if (ReadEntry(entries.at(i).toObject(), r.Source, r.Why) && r.Source.IsMain() &&
                 !mainSeen) {
            mainSeen = true;
            list.Sources.front() = std::move(r.Source);
            continue;
        }
        read.push_back(std::move(r));
    }
    MapSource& mainSource = list.Sources.front();
    const std::string iniFolder = NormalFolder(cachePath);
    const auto holdsIni = [&](const Read& r) {
        return r.Why.empty() && !r.Source.IsMain() && r.Source.Url == sourceString &&
               NormalFolder(CacheFolderOf(r.Source, programFolder)) == iniFolder;
    };
    const bool listSourceInUse = std::any_of(read.begin(), read.end(), holdsIni);
    if (!listSourceInUse) {
        mainSource.Url = sourceString;
        mainSource.Cache = cachePath;
    } else if (!mainSeen || mainSource.Url.empty() || mainSource.Cache.empty()) {
        // A list source is in use and the file never kept the main source's
        // own values (a script wrote it): the start values stand in.
        mainSource.Url = DefaultSourceString;
        mainSource.Cache = "Cache/";
    }
    mainSource.Cache = CacheFolderOf(mainSource, programFolder);

    for (Read& r : read) {
        if (r.Why.empty()) r.Why = CheckSource(r.Source, list.Sources, programFolder);
        if (!r.Why.empty()) {
            const QJsonValue value = entries.at(r.Index);
            const std::string name = value.isObject() ? Text(value.toObject().value("name")) : "";
            list.Problems.push_back("запись " + std::to_string(r.Index + 1) +
                                    (name.empty() ? "" : " «" + name + "»") + ": " + r.Why);
            list.BadEntries.push_back(Compact(value));
            continue;
        }
        if (listSourceInUse && list.Active == 0 && holdsIni(r)) list.Active = list.Sources.size();
        list.Sources.push_back(std::move(r.Source));
    }
    return list;
}

void UseSource(MainState& state, SourceList& list, size_t index) {
    if (index >= list.Sources.size()) return;
    list.Active = index;
    const MapSource& source = list.Sources[index];
    const std::string folder = CacheFolderOf(source, state.ProgramFolder);
    SetSourceString(state, source.Url);
    {
        std::lock_guard<std::mutex> lock(state.SettingsLock);
        state.CachePath = folder;
        // The settings file keeps the folder in its custom cache lines.
        state.UseCustomCachePath = folder != state.ProgramFolder + "Cache/";
        if (state.UseCustomCachePath) state.CustomCachePath = folder.substr(0, folder.size() - 1);
        state.ActiveSource = std::make_shared<const MapSource>(source);
        state.SourceContact = list.Contact;
    }
    MakeFolders(folder);
}

std::string SourcesJson(const SourceList& list, const std::string& programFolder) {
    QJsonObject top;
    for (const auto& [key, value] : list.Unknown)
        top.insert(QString::fromStdString(key), FromCompact(value));
    if (!list.Contact.empty()) top.insert("contact", QString::fromStdString(list.Contact));
    QJsonArray entries;
    for (size_t i = 0; i < list.Sources.size(); ++i)
        entries.append(EntryJson(list.Sources[i], programFolder, i != 0));
    for (const std::string& bad : list.BadEntries) entries.append(FromCompact(bad));
    top.insert("sources", entries);
    return QJsonDocument(top).toJson(QJsonDocument::Indented).toStdString();
}

SourceList LoadSources(const MainState& state) {
    const std::string path = state.ProgramFolder + SourcesFileName;
    std::string json;
    bool cut = false;
    if (FileExists(path) && !ReadWholeFile(path, json, MaxTextFileBytes, &cut)) json.clear();
    SourceList list = ParseSources(cut ? std::string("\x01") : json, state.SourceStringCopy(),
                                   state.CachePathCopy(), state.ProgramFolder);
    if (!json.empty() && list.Sources.size() == 1 && list.BadEntries.empty() &&
        !list.Problems.empty()) {
        // Nothing of it could be used: the dialog would replace it, so the
        // user's text is kept aside first.
        WriteFileAtomic(path + ".bad", json, true);
        list.Problems.back() += "; копия в " + std::string(SourcesFileName) + ".bad";
    }
    return list;
}

FileResult SaveSources(const SourceList& list, const std::string& programFolder) {
    return WriteFileAtomic(programFolder + SourcesFileName, SourcesJson(list, programFolder), true);
}

std::string SourceProblemsText(const SourceList& list) {
    if (list.Problems.empty()) return {};
    std::string text = std::string(SourcesFileName) + ": пропущено:";
    for (const std::string& problem : list.Problems) text += "\n" + problem;
    return text;
}

std::string Sha256Hex(std::string_view bytes) {
    return QCryptographicHash::hash(
               QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

void FollowSettings(MainState& state, SourceList& list) {
    if (list.Active >= list.Sources.size()) list.Active = 0;
    // A source string or cache typed while a list source was in use is the
    // main source's from now on.
    if (list.Active != 0 &&
        (state.SourceStringCopy() != list.Sources[list.Active].Url ||
         NormalFolder(state.CachePathCopy()) !=
             NormalFolder(CacheFolderOf(list.Sources[list.Active], state.ProgramFolder))))
        list.Active = 0;
    MapSource& active = list.Sources[list.Active];
    if (list.Active == 0) {
        active.Url = state.SourceStringCopy();
        active.Cache = state.CachePathCopy();
    }
    std::lock_guard<std::mutex> lock(state.SettingsLock);
    state.ActiveSource = std::make_shared<const MapSource>(active);
    state.SourceContact = list.Contact;
}

std::string MarkNoImagery(MainState& state, SourceList& list, const std::string& tileFile) {
    std::string bytes;
    if (!FileExists(tileFile) || !ReadWholeFile(tileFile, bytes, 64u << 20) || bytes.empty())
        return "в кэше нет этого снимка: " + tileFile;
    if (list.Active >= list.Sources.size()) return "нет источника";
    MapSource& source = list.Sources[list.Active];
    const std::string hash = Sha256Hex(bytes);
    if (std::find(source.NoImagery.begin(), source.NoImagery.end(), hash) ==
        source.NoImagery.end()) {
        source.NoImagery.push_back(hash);
        if (const FileResult saved = SaveSources(list, state.ProgramFolder); !saved) {
            source.NoImagery.pop_back();
            return std::string(SourcesFileName) + " не записан: " + saved.Error;
        }
    }
    {
        std::lock_guard<std::mutex> lock(state.SettingsLock);
        state.ActiveSource = std::make_shared<const MapSource>(source);
    }
    RemoveFile(tileFile);
    return {};
}

namespace {

// Saves `changed` in place of `list`, or leaves both as they were.
std::string Commit(SourceList& list, SourceList changed, const std::string& programFolder) {
    if (const FileResult saved = SaveSources(changed, programFolder); !saved)
        return std::string(SourcesFileName) + " не записан: " + saved.Error;
    list = std::move(changed);
    return {};
}

std::vector<MapSource> AllBut(const SourceList& list, size_t index) {
    std::vector<MapSource> others;
    for (size_t i = 0; i < list.Sources.size(); ++i)
        if (i != index) others.push_back(list.Sources[i]);
    return others;
}

}  // namespace

std::string AddSource(SourceList& list, const MapSource& source, const std::string& programFolder) {
    if (const std::string why = CheckSource(source, list.Sources, programFolder); !why.empty())
        return why;
    SourceList changed = list;
    changed.Sources.push_back(source);
    return Commit(list, std::move(changed), programFolder);
}

std::string ChangeSource(SourceList& list, size_t index, const MapSource& source,
                         const std::string& programFolder) {
    if (index >= list.Sources.size()) return "нет такого источника";
    MapSource changedSource = source;
    if (index == 0) {
        changedSource.Name = list.Sources[0].Name;
        changedSource.Url = list.Sources[0].Url;
        changedSource.Cache = list.Sources[0].Cache;
    } else if (const std::string why = CheckSource(source, AllBut(list, index), programFolder);
               !why.empty()) {
        return why;
    }
    SourceList changed = list;
    changed.Sources[index] = std::move(changedSource);
    return Commit(list, std::move(changed), programFolder);
}

std::string RemoveSource(SourceList& list, size_t index, const std::string& programFolder) {
    if (index == 0) return "основной источник не удаляется";
    if (index >= list.Sources.size()) return "нет такого источника";
    if (index == list.Active) return "источник выбран: сначала выберите другой";
    SourceList changed = list;
    changed.Sources.erase(changed.Sources.begin() + static_cast<std::ptrdiff_t>(index));
    if (changed.Active > index) --changed.Active;
    return Commit(list, std::move(changed), programFolder);
}
