#include "core/main_state.h"

#include <algorithm>

#include "geo/projection.h"
#include "platform/text_codec.h"

ProxySettings MainState::ProxySnapshot() const {
    std::lock_guard<std::mutex> lock(SettingsLock);
    return {UseProxy.load(), ProxyHost, ProxyPort, ProxyUser, ProxyPassword};
}

std::string MainState::SourceStringCopy() const {
    std::lock_guard<std::mutex> lock(SettingsLock);
    return SourceString;
}

std::string MainState::CachePathCopy() const {
    std::lock_guard<std::mutex> lock(SettingsLock);
    return CachePath;
}

std::shared_ptr<const MapSource> MainState::ActiveSourceCopy() const {
    std::lock_guard<std::mutex> lock(SettingsLock);
    return ActiveSource;
}

std::string MainState::SourceContactCopy() const {
    std::lock_guard<std::mutex> lock(SettingsLock);
    return SourceContact;
}

std::string CachePathFor(bool useCustom, const std::string& customPath,
                         const std::string& programFolder) {
    if (!useCustom) return programFolder + "Cache/";
    // The separator is appended without a check, so a folder typed with a
    // trailing one gets a second; harmless on Linux. An empty folder is the
    // root, as typed.
    if (customPath.empty() || customPath.front() == '/') return customPath + "/";
    // Not an absolute path ("Tiles", or "D:\Tiles" from a file written on
    // another system): inside the program folder, never wherever the
    // program happened to be started from.
    return programFolder + customPath + "/";
}

void SetSourceString(MainState& state, const std::string& source) {
    std::lock_guard<std::mutex> lock(state.SettingsLock);
    state.SourceString = source;
    state.SourceLength = static_cast<int>(Utf8Length(source));
}

void SetCachePath(MainState& state, const std::string& cachePath) {
    std::lock_guard<std::mutex> lock(state.SettingsLock);
    state.CachePath = cachePath;
}

void SetWorkMode(MainState& state, int mode) {
    state.ModeCacheOnly = mode == 0;
    state.ModeInternetOnly = mode == 1;
    state.ModeCacheAndInternet = mode == 2;
    state.ModeButtonImage = mode;
}

int NextWorkMode(const MainState& state) {
    if (state.ModeCacheOnly) return 1;
    if (state.ModeInternetOnly) return 2;
    return 0;
}

int EffectiveZoom(int zoom) { return std::clamp(zoom, 1, 20); }

bool PointAtDelta(const MainState& state, int dx, int dy, int z, double& lon, double& lat) {
    if (z < 0) z = EffectiveZoom(state.Zoom);
    return PointAtDelta(dx, dy, z, lon, lat);
}

void InitStartValues(MainState& s, const std::string& programFolder) {
    s.ProgramFolder = programFolder;
    {
        std::lock_guard<std::mutex> lock(s.ThreadLock);
        s.ViewLoaderCount = 0;
        s.ReceivedBytes = 0;
    }
    {
        std::lock_guard<std::mutex> lock(s.SettingsLock);
        s.CachePath = programFolder + "Cache/";
        s.UseCustomCachePath = false;
        s.CustomCachePath.clear();
        s.ProxyHost.clear();
        s.ProxyPort.clear();
        s.ProxyUser.clear();
        s.ProxyPassword.clear();
    }
    SetSourceString(s, DefaultSourceString);
    SetWorkMode(s, 2);
    s.UseProxy = false;
    s.ShowTimerDialog = false;
    s.ErrorControl = true;
    s.FetchAttempts = 3;
    s.RetryInterval = 1;
    s.MaxWriteErrors = 3;
    s.MaxFetchErrors = 3;
    s.MaxBadFileErrors = 25;
    s.Zoom = 1;
    s.BlinkCount = 20;
    s.GenerateUpperLayers = true;
    s.ReplaceUpperLayers = false;
    s.UseArchives = false;
    s.ShowLogAuto = true;
    s.WriteMapInfoTab = false;
    s.WriteOziMap = true;
    s.WheelZoom = true;
}
