#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/shared_list.h"
#include "core/task_list.h"
#include "core/ui_sink.h"
#include "platform/bitmap.h"
#include "platform/dial_up.h"

// The request prefix of our own local tile server; the key letters follow it.
inline constexpr const char* DefaultSourceString = "http://127.0.0.1:8642/kh?v=9&n=404&t=t";

// Where one tool window sits and how it is laid out (settings lines 30-52).
struct ToolWindowPlace {
    int DockPos = 0;
    int DockRow = 0;
    int FloatLeft = 0;
    int FloatTop = 0;
    bool Vertical = false;  // the layout flag of its settings line
    bool Floating = false;
    int Dock = 3;  // 1 left, 2 bottom, 3 top, 4 right
};

struct MapSource;

struct ProxySettings {
    bool UseProxy = false;
    std::string ProxyHost, ProxyPort, ProxyUser, ProxyPassword;
};

// The whole shared state of the main window. The GUI thread owns it; workers
// get a reference. Settings that workers read are atomics, or texts guarded by
// SettingsLock (the GUI thread writes them only under it).
struct MainState {
    MainState() = default;
    MainState(const MainState&) = delete;
    MainState& operator=(const MainState&) = delete;

    std::string ProgramFolder;  // ends with '/'

    // View.
    int Zoom = 1;
    double CenterLat = 0, CenterLon = 0;  // longitude west positive
    int CenterOffsetX = 0, CenterOffsetY = 0;
    Bitmap ViewBitmap;
    bool Rendering = false;
    bool Dragging = false, ClickPending = false;
    int DragStartX = 0, DragStartY = 0, MouseX = 0, MouseY = 0;
    int StartupZoom = 1;

    // Source and cache; texts guarded by SettingsLock.
    mutable std::mutex SettingsLock;
    std::string SourceString;
    int SourceLength = 0;  // in characters
    std::string CachePath;  // always ends with '/'
    bool UseCustomCachePath = false;
    std::string CustomCachePath;
    // The source of the list in use, with what its client sends; null means
    // the main source as the settings file gives it, with nothing added.
    std::shared_ptr<const MapSource> ActiveSource;
    std::string SourceContact;  // for the default User-Agent of list sources

    // Work mode: exactly one is on (a hand-edited settings file can break it).
    std::atomic<bool> ModeCacheOnly{false}, ModeInternetOnly{false}, ModeCacheAndInternet{true};
    int ModeButtonImage = 2;  // 0 cache only, 1 internet only, 2 both

    // Proxy; texts guarded by SettingsLock.
    std::atomic<bool> UseProxy{false};
    std::string ProxyHost, ProxyPort, ProxyUser, ProxyPassword;

    bool ShowTimerDialog = false;
    std::atomic<bool> ErrorControl{true};
    std::atomic<int> FetchAttempts{3}, RetryInterval{1};
    std::atomic<int> MaxWriteErrors{3}, MaxFetchErrors{3}, MaxBadFileErrors{25};
    std::atomic<bool> GenerateUpperLayers{true}, ReplaceUpperLayers{false}, UseArchives{false};
    SharedStringList ArchiveList;
    std::atomic<bool> ShowLogAuto{true}, WriteOziMap{true}, WriteMapInfoTab{false};
    bool WheelZoom = true;

    // Selection.
    double SelLat1 = 0, SelLon1 = 0, SelLat2 = 0, SelLon2 = 0;
    bool HasSelection = false, Selecting = false, FrameShown = false;
    int SelLeft = 0, SelTop = 0, SelRight = 0, SelBottom = 0;
    int AntsTick = 0;

    // Search panel.
    double SearchLat = 0, SearchLon = 0;
    int BlinkCount = 20;

    // Shared with workers under ThreadLock.
    std::mutex ThreadLock;
    int64_t ReceivedBytes = 0;
    int ViewLoaderCount = 0;
    std::shared_ptr<std::atomic<uint8_t>> ViewLoaderStop;

    // Region tasks. TaskRunning: a task worker exists; it is set before the
    // worker starts and cleared by it, under ThreadLock, as its last act.
    TaskQueue TaskList;
    std::atomic<bool> TaskRunning{false};
    // Keeps the record of the task list; none when nobody does.
    std::atomic<TaskListWatcher*> TaskWatcher{nullptr};

    // Error totals of the GUI thread's own tile lookups.
    std::atomic<int> TotalFetchErrors{0}, TotalBadFileErrors{0}, TotalWriteErrors{0};

    bool ControlsEnabled = false;
    bool FirstShowPending = false;
    bool SearchPanelVisible = false, TaskPanelVisible = false;

    // Control values that the settings file keeps.
    int ScbIndex = 0;          // search latitude hemisphere: 0 N, 1 S
    int DcbIndex = 1;          // search longitude hemisphere: 0 W, 1 E
    int FcbIndex = -1;         // search zoom list, index 0..19
    int ComboBox3Index = 7;    // JPEG quality list, "10%".."100%"
    int ComboBox2Index = 12;   // task zoom list, index 0..19
    // Main window geometry; each value applies once the file gave it.
    int WindowWidth = 734, WindowHeight = 589, WindowTop = 0, WindowLeft = 0;
    bool WindowHeightRead = false, WindowWidthRead = false;
    bool WindowTopRead = false, WindowLeftRead = false;
    ToolWindowPlace ToolWindow1{-4, 0, 100, 100, false, false, 2};
    ToolWindowPlace ToolWindow2{0, 0, 100, 100, false, false, 3};
    ToolWindowPlace ToolWindow3{0, 1, 100, 200, false, false, 3};

    // The dial-up service of the delayed start; tests put a fake here.
    DialUpBackend* DialUpService = &DefaultDialUpBackend();

    UiSink* Sink = &NullSinkInstance;
    // Workers may still report after the windows are gone: they then talk to
    // nobody instead of to a destroyed window.
    void UseNullSink() { Sink = &NullSinkInstance; }

    // Copies for worker threads.
    ProxySettings ProxySnapshot() const;
    std::string SourceStringCopy() const;
    std::string CachePathCopy() const;
    std::shared_ptr<const MapSource> ActiveSourceCopy() const;
    std::string SourceContactCopy() const;

private:
    static inline UiSink NullSinkInstance;
};

// Start values of the construction, before the settings file is read.
void InitStartValues(MainState& state, const std::string& programFolder);
// The program folder followed by "Cache/", or the custom folder followed by
// "/"; a custom folder that is not an absolute path lies in the program folder.
std::string CachePathFor(bool useCustom, const std::string& customPath,
                         const std::string& programFolder);
// Sets SourceString and SourceLength together (under SettingsLock).
void SetSourceString(MainState& state, const std::string& source);
// Sets the cache folder (ending with '/') under SettingsLock.
void SetCachePath(MainState& state, const std::string& cachePath);
// Sets exactly one work mode and the mode button image: 0 cache only,
// 1 internet only, 2 cache and internet.
void SetWorkMode(MainState& state, int mode);
// The mode after a press of the mode button: cache only -> internet only ->
// cache and internet -> cache only.
int NextWorkMode(const MainState& state);
// The zoom to work with: the views and the projection never see a zoom
// outside 1..20, even when the settings file stored one.
int EffectiveZoom(int zoom);
// PointAtDelta where a negative zoom means the view's current zoom.
bool PointAtDelta(const MainState& state, int dx, int dy, int z, double& lon, double& lat);
