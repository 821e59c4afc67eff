#include "core/app_core.h"

#include <thread>

#include "platform/file_io.h"

void LoadArchiveList(MainState& state) {
    std::vector<std::string> lines;
    if (!ReadTextLines(state.ProgramFolder + ArchiveListFileName, lines)) lines.clear();
    state.ArchiveList.Replace(std::move(lines));
}

bool StartUpState(MainState& state, const std::string& programFolder, ScreenSize screen) {
    InitStartValues(state, programFolder);
    LoadArchiveList(state);
    bool ok = LoadSettings(state, programFolder + SettingsFileName, screen);
    state.StartupZoom = state.Zoom;
    MakeCacheFolder(state);
    return ok;
}

void MakeCacheFolder(const MainState& state) { MakeFolders(state.CachePathCopy()); }

void RaiseViewLoaderStop(MainState& state) {
    std::lock_guard<std::mutex> lock(state.ThreadLock);
    if (state.ViewLoaderCount > 0 && state.ViewLoaderStop) *state.ViewLoaderStop = 1;
}

bool WaitForViewLoaders(MainState& state, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(state.ThreadLock);
            if (state.ViewLoaderCount <= 0) return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}
