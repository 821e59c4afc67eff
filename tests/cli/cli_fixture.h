// A program folder with its own settings file pointing at an in-process tile
// server, and vistrel-cli's whole run (parse, run, status) on it.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "core/main_state.h"
#include "core/settings_file.h"
#include "fetch/request_tile.h"
#include "geo/tile_key.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tile_server.h"

// The letters of the tiles over 55.70..55.80 N, 37.50..37.70 E at zoom z,
// column by column from the west, each from the north, by the Mercator
// formulas written out here.
inline std::vector<std::string> RegionTileList(int z) {
    const double n = std::pow(2.0, z);
    auto column = [&](double lon) { return static_cast<int>((lon + 180) / 360 * n); };
    auto row = [&](double lat) {
        const double r = lat * M_PI / 180;
        return static_cast<int>((1 - std::asinh(std::tan(r)) / M_PI) / 2 * n);
    };
    std::vector<std::string> tiles;
    for (int c = column(37.50); c <= column(37.70); ++c)
        for (int r = row(55.80); r <= row(55.70); ++r) tiles.push_back(KeyLetters(z, c, r));
    return tiles;
}
inline std::set<std::string> RegionTiles(int z) {
    const auto list = RegionTileList(z);
    return {list.begin(), list.end()};
}

struct CliResult {
    int Status = -1;
    std::string Out, Err;

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(Out);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::string LastLine() const {
        const auto lines = Lines();
        return lines.empty() ? std::string() : lines.back();
    }
};

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override { FetchGlobalInit(); }

    // Tiles of the procedural planet, or from `source`; every request counted.
    void StartServer(vistrel::tileserver::FaultOptions faults = {},
                     std::function<std::optional<std::string>(const std::string&)> source = {}) {
        vistrel::tileserver::ServerOptions options;
        options.Faults = faults;
        options.Seed = 7;
        options.Threads = 16;
        options.Source = source;
        options.Log = [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(Mutex);
            const auto letters =
                vistrel::tileserver::LettersOfTarget(line.substr(4, line.find(' ', 4) - 4));
            if (letters) {
                ++Asked[*letters];
                AskedOrder.push_back(*letters);
            }
        };
        Server = std::make_unique<vistrel::tileserver::TileServer>(options);
        ASSERT_TRUE(Server->Start(0));
    }
    std::map<std::string, int> AskedTiles() {
        std::lock_guard<std::mutex> lock(Mutex);
        return Asked;
    }
    std::vector<std::string> AskedInOrder() {
        std::lock_guard<std::mutex> lock(Mutex);
        return AskedOrder;
    }

    // The settings file of `folder`: the start values aimed at the server,
    // quick retries, no upper layers unless `tweak` says otherwise.
    void WriteSettings(const std::string& folder,
                       const std::function<void(MainState&)>& tweak = {}) {
        MainState s;
        InitStartValues(s, folder);
        if (Server) SetSourceString(s, Server->UrlPrefix());
        s.RetryInterval = 0;
        s.GenerateUpperLayers = false;
        if (tweak) tweak(s);
        ASSERT_TRUE(SaveSettings(s, folder + SettingsFileName));
    }

    CliResult Run(std::vector<std::string> args, const std::string& folder) {
        args.push_back("--folder");
        args.push_back(folder);
        return RunArgs(args);
    }
    CliResult RunArgs(const std::vector<std::string>& args) {
        std::ostringstream out, err;
        CliResult r;
        r.Status = CliMain(args, Folder.Path(), Stops, CliStreams{out, err, false});
        r.Out = out.str();
        r.Err = err.str();
        return r;
    }

    // The cached tiles of a folder's cache, by name.
    static std::vector<std::string> CachedTiles(const std::string& folder) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(folder + "Cache", ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir Folder;
    std::atomic<int> Stops{0};
    std::mutex Mutex;
    std::map<std::string, int> Asked;
    std::vector<std::string> AskedOrder;
    // Last, so it stops before what its threads write into goes.
    std::unique_ptr<vistrel::tileserver::TileServer> Server;
};
