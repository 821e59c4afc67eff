#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <string>
#include <thread>

#include "core/app_core.h"
#include "support/task_request.h"
#include "support/temp_dir.h"
#include "tasks/stitch_task.h"
#include "tasks/tasks.h"

namespace {

using namespace std::chrono_literals;

long RssKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// Tiles are made as they are taken, so the memory does not grow with their number.
TEST(TaskMemory, ATenMillionTileTaskIsMadeAndRunWithinTwentyMegabytes) {
    TempDir cache;
    MainState state;
    SetSourceString(state, "http://127.0.0.1:1/kh?v=9&n=404&t=t");
    SetCachePath(state, cache.Path());
    SetWorkMode(state, 0);  // the cache only: every tile a miss
    state.GenerateUpperLayers = false;
    // 3163 x 3163 tiles at zoom 19, corners at tile centres (lon west positive).
    const int z = 19, side = 3163, column = 320'000, row = 160'000;
    const double world = std::ldexp(1.0, z);
    const auto lon = [&](double c) { return -(c / world * 360 - 180); };
    const auto lat = [&](double r) {
        return std::atan(std::sinh(M_PI * (1 - 2 * r / world))) * 180 / M_PI;
    };
    state.SelLat1 = lat(row + 0.5);
    state.SelLon1 = lon(column + 0.5);
    state.SelLat2 = lat(row + side - 0.5);
    state.SelLon2 = lon(column + side - 0.5);

    const long before = RssKb();
    const TaskRequest request = MakeRequest(z);
    auto task = NewTask(state, request);
    std::string failed, error;
    ASSERT_EQ(BuildTask(state, *task, request, failed, error), TaskBuild::Built) << error;
    EXPECT_EQ(task->TileCount, int64_t{side} * side);
    QueueTask(state, task);
    ASSERT_TRUE(StartTaskWorker(state, task));
    for (int i = 0; i < 3000 && task->TilesDone < 5000; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_GE(task->TilesDone, 5000);
    const long during = RssKb();
    StopAllTasks(state);
    ASSERT_TRUE(WaitForTaskWorker(state, 60s));
    EXPECT_LT(during - before, 20 * 1024) << "kB grown";
}

}  // namespace
