#include "core/settings_file.h"

#include <algorithm>
#include <vector>

#include "platform/numbers.h"

ToolWindowSize ToolWindowClientSize(int window, bool verticalFlag) {
    switch (window) {
        case 1:  // slider 269 long, tool bar and label 192 beside it
            return verticalFlag ? ToolWindowSize{28, 269 + 192} : ToolWindowSize{269 + 192, 28};
        case 2:
            return verticalFlag ? ToolWindowSize{192, 142} : ToolWindowSize{771, 47};
        default:  // one row while no task is listed, else two rows
            return verticalFlag ? ToolWindowSize{363, 47} : ToolWindowSize{350, 47};
    }
}

int QualityPercent(int listIndex) {
    return listIndex >= 0 && listIndex <= 9 ? listIndex * 10 + 10 : 80;
}

namespace {

class Reader {
public:
    explicit Reader(std::vector<std::string> lines) : Lines(std::move(lines)) {}
    bool Text(int index, std::string& out) const {
        if (index < 0 || static_cast<size_t>(index) >= Lines.size()) return false;
        out = Lines[static_cast<size_t>(index)];
        return true;
    }
    bool Int(int index, int& out, int fallback) const {
        std::string text;
        if (!Text(index, text)) return false;
        if (!ParseInt(text, out)) out = fallback;
        return true;
    }
    bool Flag(int index, const char* marker, bool& out) const {
        std::string text;
        if (!Text(index, text)) return false;
        out = text == marker;
        return true;
    }
    bool Flag(int index, const char* marker, std::atomic<bool>& out) const {
        bool v = false;
        if (!Flag(index, marker, v)) return false;
        out = v;
        return true;
    }
    bool Int(int index, std::atomic<int>& out, int fallback) const {
        int v = 0;
        if (!Int(index, v, fallback)) return false;
        out = v;
        return true;
    }
    // A count the settings dialog keeps within low..high: a hand-edited
    // value outside is taken as the dialog would show it, at the nearer end.
    bool Count(int index, std::atomic<int>& out, int fallback, int low, int high) const {
        int v = 0;
        if (!Int(index, v, fallback)) return false;
        out = std::clamp(v, low, high);
        return true;
    }

private:
    std::vector<std::string> Lines;
};

void KeepOnScreen(ToolWindowPlace& place, int window, ScreenSize screen) {
    ToolWindowSize size = ToolWindowClientSize(window, place.Vertical);
    // 64-bit sums: a hand-edited position near INT_MAX must not wrap.
    if (screen.Width < int64_t{place.FloatLeft} + size.Width) place.FloatLeft = screen.Width - size.Width;
    if (screen.Height < int64_t{place.FloatTop} + size.Height)
        place.FloatTop = screen.Height - size.Height;
}

// One tool window's lines: position, row, floating left and top, layout,
// floating, then (visibleLine) and the dock when docked.
bool ReadToolWindow(const Reader& r, int first, int window, ToolWindowPlace& place,
                    ScreenSize screen, int visibleLine, bool* visible) {
    if (!r.Int(first, place.DockPos, 0) || !r.Int(first + 1, place.DockRow, 0) ||
        !r.Int(first + 2, place.FloatLeft, 0) || !r.Int(first + 3, place.FloatTop, 0))
        return false;
    if (!r.Flag(first + 4, "v", place.Vertical)) return false;
    KeepOnScreen(place, window, screen);
    if (!r.Flag(first + 5, "f", place.Floating)) return false;
    int next = first + 6;
    if (visibleLine == next) {
        if (!r.Flag(visibleLine, "V", *visible)) return false;
        ++next;
    }
    if (!place.Floating) {
        std::string dock;
        if (!r.Text(next, dock)) return false;
        if (dock == "1" || dock == "2" || dock == "3" || dock == "4") place.Dock = dock[0] - '0';
    }
    return true;
}

bool ReadLines(MainState& s, const Reader& r, ScreenSize screen) {
    std::string text;
    if (!r.Text(0, text)) return false;
    SetSourceString(s, text);
    bool on = false;
    if (!r.Flag(1, "c", on)) return false;
    s.ModeCacheOnly = on;
    if (on) s.ModeButtonImage = 0;
    if (!r.Flag(2, "i", on)) return false;
    s.ModeInternetOnly = on;
    if (on) s.ModeButtonImage = 1;
    if (!r.Flag(3, "ci", on)) return false;
    s.ModeCacheAndInternet = on;
    if (on) s.ModeButtonImage = 2;
    if (!r.Flag(4, "t", s.ShowTimerDialog) || !r.Flag(5, "p", s.UseProxy)) return false;
    {
        // Applied one by one: a short file keeps those already read.
        const int idx[] = {6, 7, 8, 9};
        std::string* fields[] = {&s.ProxyHost, &s.ProxyPort, &s.ProxyUser, &s.ProxyPassword};
        for (int i = 0; i < 4; ++i) {
            if (!r.Text(idx[i], text)) return false;
            std::lock_guard<std::mutex> lock(s.SettingsLock);
            *fields[i] = text;
        }
    }
    if (!r.Int(11, s.ScbIndex, 0) || !r.Int(12, s.DcbIndex, 1) || !r.Int(14, s.FcbIndex, 1))
        return false;
    if (!r.Int(53, s.WindowHeight, 480)) return false;
    s.WindowHeightRead = true;
    if (!r.Int(54, s.WindowWidth, 640)) return false;
    s.WindowWidthRead = true;
    if (!r.Int(17, s.ComboBox3Index, 7) || !r.Int(55, s.WindowTop, 0)) return false;
    s.WindowTopRead = true;
    if (!r.Count(19, s.FetchAttempts, 3, 1, 10) || !r.Count(20, s.MaxWriteErrors, 3, 1, 50) ||
        !r.Count(21, s.MaxFetchErrors, 3, 1, 100) || !r.Count(22, s.MaxBadFileErrors, 25, 1, 200))
        return false;
    if (!r.Text(23, text)) return false;
    {
        std::lock_guard<std::mutex> lock(s.SettingsLock);
        s.CustomCachePath = text;
    }
    if (!r.Flag(24, "c", s.UseCustomCachePath)) return false;
    {
        std::lock_guard<std::mutex> lock(s.SettingsLock);
        s.CachePath = CachePathFor(s.UseCustomCachePath, s.CustomCachePath, s.ProgramFolder);
    }
    if (!r.Count(25, s.RetryInterval, 1, 1, 60)) return false;
    double real = 0;
    if (!r.Text(26, text) || !ParseReal(text, real)) return false;
    s.CenterLat = real;
    if (!r.Text(27, text) || !ParseReal(text, real)) return false;
    s.CenterLon = real;
    if (!r.Int(28, s.Zoom, 1) || !r.Flag(29, "e", s.ErrorControl)) return false;
    if (!ReadToolWindow(r, 30, 1, s.ToolWindow1, screen, -1, nullptr)) return false;
    s.FirstShowPending = true;
    if (!ReadToolWindow(r, 37, 2, s.ToolWindow2, screen, 43, &s.SearchPanelVisible)) return false;
    if (!ReadToolWindow(r, 45, 3, s.ToolWindow3, screen, 51, &s.TaskPanelVisible)) return false;
    if (!r.Int(56, s.WindowLeft, 0)) return false;
    s.WindowLeftRead = true;
    if (!r.Int(57, s.ComboBox2Index, 7)) return false;
    if (!r.Flag(58, "g", s.GenerateUpperLayers) || !r.Flag(59, "G", s.ReplaceUpperLayers) ||
        !r.Flag(60, "z", s.UseArchives) || !r.Flag(61, "l", s.ShowLogAuto) ||
        !r.Flag(62, "M", s.WriteMapInfoTab) || !r.Flag(63, "O", s.WriteOziMap))
        return false;
    if (!r.Text(64, text)) return false;
    s.WheelZoom = text == "S";
    return true;
}

const char* FlagText(bool on, const char* marker) { return on ? marker : "-"; }

void WriteToolWindow(std::vector<std::string>& out, const ToolWindowPlace& p) {
    out.push_back(std::to_string(p.DockPos));
    out.push_back(std::to_string(p.DockRow));
    out.push_back(std::to_string(p.FloatLeft));
    out.push_back(std::to_string(p.FloatTop));
    out.push_back(FlagText(p.Vertical, "v"));
    out.push_back(FlagText(p.Floating, "f"));
}

std::string DockText(const ToolWindowPlace& p) {
    return p.Floating ? "-" : std::to_string(p.Dock);
}

}  // namespace

bool LoadSettings(MainState& state, const std::string& path, ScreenSize screen) {
    std::vector<std::string> lines;
    bool ok = ReadTextLines(path, lines);
    if (ok) {
        if (lines.size() > 65) lines.resize(65);
        ok = ReadLines(state, Reader(std::move(lines)), screen);
    }
    if (!ok) SetSourceString(state, DefaultSourceString);
    return ok;
}

std::vector<std::string> SettingsLines(const MainState& s) {
    std::vector<std::string> out;
    out.reserve(65);
    std::lock_guard<std::mutex> lock(s.SettingsLock);
    out.push_back(s.SourceString);                                   // 0
    out.push_back(FlagText(s.ModeCacheOnly, "c"));                   // 1
    out.push_back(FlagText(s.ModeInternetOnly, "i"));                // 2
    out.push_back(FlagText(s.ModeCacheAndInternet, "ci"));           // 3
    out.push_back(FlagText(s.ShowTimerDialog, "t"));                 // 4
    out.push_back(FlagText(s.UseProxy, "p"));                        // 5
    out.push_back(s.ProxyHost);                                      // 6
    out.push_back(s.ProxyPort);                                      // 7
    out.push_back(s.ProxyUser);                                      // 8
    out.push_back(s.ProxyPassword);                                  // 9
    out.push_back(std::to_string(s.SourceLength));                   // 10
    out.push_back(std::to_string(s.ScbIndex));                       // 11
    out.push_back(std::to_string(s.DcbIndex));                       // 12
    out.push_back("-");                                              // 13
    out.push_back(std::to_string(s.FcbIndex));                       // 14
    out.push_back(std::to_string(s.WindowHeight));                   // 15
    out.push_back(std::to_string(s.WindowWidth));                    // 16
    out.push_back(std::to_string(s.ComboBox3Index));                 // 17
    out.push_back(std::to_string(s.WindowTop));                      // 18
    out.push_back(std::to_string(s.FetchAttempts));                  // 19
    out.push_back(std::to_string(s.MaxWriteErrors));                 // 20
    out.push_back(std::to_string(s.MaxFetchErrors));                 // 21
    out.push_back(std::to_string(s.MaxBadFileErrors));               // 22
    out.push_back(s.CustomCachePath);                                // 23
    out.push_back(FlagText(s.UseCustomCachePath, "c"));              // 24
    out.push_back(std::to_string(s.RetryInterval));                  // 25
    out.push_back(FormatGeneral(s.CenterLat));                       // 26
    out.push_back(FormatGeneral(s.CenterLon));                       // 27
    out.push_back(std::to_string(s.Zoom));                           // 28
    out.push_back(FlagText(s.ErrorControl, "e"));                    // 29
    WriteToolWindow(out, s.ToolWindow1);                             // 30-35
    out.push_back(DockText(s.ToolWindow1));                          // 36
    WriteToolWindow(out, s.ToolWindow2);                             // 37-42
    out.push_back(FlagText(s.SearchPanelVisible, "V"));              // 43
    out.push_back(DockText(s.ToolWindow2));                          // 44
    WriteToolWindow(out, s.ToolWindow3);                             // 45-50
    out.push_back(FlagText(s.TaskPanelVisible, "V"));                // 51
    out.push_back(DockText(s.ToolWindow3));                          // 52
    out.push_back(std::to_string(s.WindowHeight));                   // 53
    out.push_back(std::to_string(s.WindowWidth));                    // 54
    out.push_back(std::to_string(s.WindowTop));                      // 55
    out.push_back(std::to_string(s.WindowLeft));                     // 56
    out.push_back(std::to_string(s.ComboBox2Index));                 // 57
    out.push_back(FlagText(s.GenerateUpperLayers, "g"));             // 58
    out.push_back(FlagText(s.ReplaceUpperLayers, "G"));              // 59
    out.push_back(FlagText(s.UseArchives, "z"));                     // 60
    out.push_back(FlagText(s.ShowLogAuto, "l"));                     // 61
    out.push_back(FlagText(s.WriteMapInfoTab, "M"));                 // 62
    out.push_back(FlagText(s.WriteOziMap, "O"));                     // 63
    out.push_back(s.WheelZoom ? "S" : "C");                          // 64
    return out;
}

FileResult SaveSettings(const MainState& state, const std::string& path) {
    return WriteTextLines(path, SettingsLines(state));
}
