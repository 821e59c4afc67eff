// Shared pieces of the fetch tests: a recording sink and a state pointed at
// a temporary cache folder with short network limits.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "fetch/get_tile.h"
#include "fetch/request_tile.h"
#include "support/http_script_server.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"

class RecordingSink : public UiSink {
  public:
    void SetTrafficText(const std::string& text) override {
        std::lock_guard<std::mutex> lock(Mutex);
        TrafficTexts.push_back(text);
    }
    void RequestRepaint() override {
        std::lock_guard<std::mutex> lock(Mutex);
        ++Repaints;
    }
    void ShowErrorCounts() override {
        std::lock_guard<std::mutex> lock(Mutex);
        ++ErrorCountCalls;
    }
    std::vector<std::string> Texts() const {
        std::lock_guard<std::mutex> lock(Mutex);
        return TrafficTexts;
    }
    int ErrorCountShows() const {
        std::lock_guard<std::mutex> lock(Mutex);
        return ErrorCountCalls;
    }

  private:
    mutable std::mutex Mutex;
    std::vector<std::string> TrafficTexts;
    int Repaints = 0;
    int ErrorCountCalls = 0;
};

class RecordingLog : public TaskLog {
  public:
    void AddLog(const std::string& line) override { Lines.push_back(line); }
    std::vector<std::string> Lines;
};

class FetchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        State.Sink = &Sink;
        SetSourceString(State, Server.Url("/kh?v=9&n=404&t=t"));
        SetCachePath(State, Cache.Path());
        State.GenerateUpperLayers = false;
        Saved = GetFetchOptions();
        FetchOptions quick;
        quick.ConnectTimeoutMs = 2000;
        quick.StallSeconds = 1;
        SetFetchOptions(quick);
    }
    void TearDown() override { SetFetchOptions(Saved); }

    // A record for the tile with these key letters, as the view makes it.
    jtype Tile(const std::string& letters) const {
        jtype tile;
        tile.TileName = letters;
        tile.Url = Server.Url("/kh?v=9&n=404&t=t") + letters;
        tile.FileName = Cache.Path() + letters + ".jpg";
        return tile;
    }

    void SetProxy(bool use, const std::string& host, const std::string& port,
                  const std::string& user, const std::string& password) {
        std::lock_guard<std::mutex> lock(State.SettingsLock);
        State.UseProxy = use;
        State.ProxyHost = host;
        State.ProxyPort = port;
        State.ProxyUser = user;
        State.ProxyPassword = password;
    }

    int64_t Received() {
        std::lock_guard<std::mutex> lock(State.ThreadLock);
        return State.ReceivedBytes;
    }

    HttpScriptServer Server;
    TempDir Cache;
    RecordingSink Sink;
    MainState State;
    FetchOptions Saved;
};

// A port on which nothing listens (a server's, after it closed).
inline uint16_t ClosedPort() {
    HttpScriptServer gone;
    return gone.Port();
}
