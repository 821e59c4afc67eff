#include "tasks/th_loading.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

#include "core/app_core.h"
#include "fetch/request_tile.h"
#include "support/http_script_server.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"

namespace {

using namespace std::chrono_literals;

// Records what workers ask of the windows; can hold every worker at the
// start of its next tile lookup, so a test decides when it goes on.
class WorkerSink : public UiSink {
  public:
    void ShowErrorCounts() override {
        std::unique_lock<std::mutex> lock(Mutex);
        if (!Holding) return;
        ++Held;
        Changed.notify_all();
        Changed.wait(lock, [this] { return !Holding; });
    }
    void RequestRepaint() override {
        std::lock_guard<std::mutex> lock(Mutex);
        ++Repaints;
        Policies.push_back(sched_getscheduler(0));
    }
    void Hold() {
        std::lock_guard<std::mutex> lock(Mutex);
        Holding = true;
    }
    // Waits until `count` lookups are being held.
    bool WaitHeld(int count) {
        std::unique_lock<std::mutex> lock(Mutex);
        return Changed.wait_for(lock, 30s, [&] { return Held >= count; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(Mutex);
        Holding = false;
        Changed.notify_all();
    }
    int RepaintCount() {
        std::lock_guard<std::mutex> lock(Mutex);
        return Repaints;
    }
    std::vector<int> RepaintPolicies() {
        std::lock_guard<std::mutex> lock(Mutex);
        return Policies;
    }

  private:
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Holding = false;
    int Held = 0;
    int Repaints = 0;
    std::vector<int> Policies;
};

constexpr Rgb Fill{1, 2, 3};
constexpr Rgb Red{250, 0, 0}, Green{0, 250, 0}, Blue{0, 0, 250};

std::string SolidTile(Rgb c) {
    return MakeSolidJpeg(256, 256, c.R, c.G, c.B, 95);
}

bool Near(Rgb a, Rgb b) {
    return std::abs(a.R - b.R) <= 12 && std::abs(a.G - b.G) <= 12 && std::abs(a.B - b.B) <= 12;
}

class TThLoadingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        State.Sink = &Sink;
        State.GenerateUpperLayers = false;
        Canvas.Fill(Fill);
        Saved = GetFetchOptions();
        FetchOptions quick;
        quick.ConnectTimeoutMs = 2000;
        quick.StallSeconds = 2;
        SetFetchOptions(quick);
    }
    void TearDown() override {
        Sink.Release();
        EXPECT_TRUE(WaitForViewLoaders(State, 60s)) << "a view-fill worker did not end";
        SetFetchOptions(Saved);
    }

    // Queues a tile at the head of `list`, as view rendering does.
    void Queue(std::unique_ptr<jtype>& list, const std::string& letters, int x, int y) {
        auto node = std::make_unique<jtype>();
        node->TileName = letters;
        node->Url = Server.Url("/kh?v=9&n=404&t=t") + letters;
        node->FileName = Cache.Path() + letters + ".jpg";
        node->Canvas = &Canvas;
        node->X = x;
        node->Y = y;
        node->Next = std::move(list);
        list = std::move(node);
    }

    Rgb PixelAt(int x, int y) {
        auto lock = Canvas.LockCanvas();
        return Canvas.Pixel(x, y);
    }

    int LoaderCount() {
        std::lock_guard<std::mutex> lock(State.ThreadLock);
        return State.ViewLoaderCount;
    }
    std::shared_ptr<std::atomic<uint8_t>> LoaderStop() {
        std::lock_guard<std::mutex> lock(State.ThreadLock);
        return State.ViewLoaderStop;
    }

    // Request targets in the order the server saw them.
    std::vector<std::string> Targets() {
        std::vector<std::string> out;
        for (const std::string& request : Server.Requests()) {
            const size_t from = request.find(' ') + 1;
            out.push_back(request.substr(from, request.find(' ', from) - from));
        }
        return out;
    }

    HttpScriptServer Server;
    TempDir Cache;
    WorkerSink Sink;
    Bitmap Canvas{1024, 512};
    MainState State;
    FetchOptions Saved;
};

}  // namespace

TEST_F(TThLoadingTest, OldestTileFirstDrawnWhereQueued) {
    std::unique_ptr<jtype> list;
    Queue(list, "q", 0, 0);
    Queue(list, "r", 256, 0);
    Queue(list, "s", 512, 100);
    Queue(list, "t", 768, 0);  // fails: nothing drawn there
    Server.Push(ScriptedAnswer::Ok(SolidTile(Red)));
    Server.Push(ScriptedAnswer::Ok(SolidTile(Green)));
    Server.Push(ScriptedAnswer::Ok(SolidTile(Blue)));
    Server.Push(ScriptedAnswer::Status(404, "Not Found"));

    ASSERT_TRUE(StartViewFillWorker(State, std::move(list)));
    ASSERT_TRUE(WaitForViewLoaders(State, 60s));

    EXPECT_EQ(Targets(), (std::vector<std::string>{"/kh?v=9&n=404&t=tq", "/kh?v=9&n=404&t=tr",
                                                   "/kh?v=9&n=404&t=ts", "/kh?v=9&n=404&t=tt"}));
    EXPECT_TRUE(Near(PixelAt(0, 0), Red));
    EXPECT_TRUE(Near(PixelAt(255, 255), Red));
    EXPECT_TRUE(Near(PixelAt(256, 0), Green));
    EXPECT_EQ(PixelAt(600, 99), Fill);  // above the third tile's top edge
    EXPECT_TRUE(Near(PixelAt(512, 100), Blue));
    EXPECT_TRUE(Near(PixelAt(767, 355), Blue));
    EXPECT_EQ(PixelAt(600, 356), Fill);
    EXPECT_EQ(PixelAt(900, 100), Fill);
    EXPECT_EQ(Sink.RepaintCount(), 3);
    // Background filling runs at idle priority.
    for (int policy : Sink.RepaintPolicies()) EXPECT_EQ(policy, SCHED_IDLE);
    EXPECT_EQ(LoaderCount(), 0);
    // The worker gave its share of the stop byte back; the view keeps its own.
    const auto stop = LoaderStop();
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop.use_count(), 2);  // the state's and ours
    EXPECT_EQ(stop->load(), 0);
}

TEST_F(TThLoadingTest, StopDuringATileFetchesItButDrawsNothingMore) {
    std::unique_ptr<jtype> list;
    Queue(list, "q", 0, 0);
    Queue(list, "r", 256, 0);
    Queue(list, "s", 512, 0);
    Server.Push(ScriptedAnswer::Ok(SolidTile(Red)));
    Server.Push(ScriptedAnswer::Ok(SolidTile(Green)));
    Server.Push(ScriptedAnswer::Ok(SolidTile(Blue)));
    Sink.Hold();

    ASSERT_TRUE(StartViewFillWorker(State, std::move(list)));
    ASSERT_TRUE(Sink.WaitHeld(1));  // inside the lookup of the first tile
    EXPECT_EQ(LoaderCount(), 1);
    RaiseViewLoaderStop(State);
    Sink.Release();
    ASSERT_TRUE(WaitForViewLoaders(State, 60s));

    EXPECT_EQ(Targets(), std::vector<std::string>{"/kh?v=9&n=404&t=tq"});
    EXPECT_TRUE(Cache.Exists("q.jpg"));  // fetched and stored all the same
    EXPECT_FALSE(Cache.Exists("r.jpg"));
    for (int x : {0, 300, 600, 1000}) EXPECT_EQ(PixelAt(x, 10), Fill) << x;
    EXPECT_EQ(Sink.RepaintCount(), 0);
}

TEST_F(TThLoadingTest, OlderWorkersDrainWhileTheNewestDraws) {
    std::unique_ptr<jtype> first, second;
    Queue(first, "q", 0, 0);
    Queue(first, "r", 256, 0);
    Queue(second, "s", 512, 0);
    Queue(second, "t", 768, 0);
    for (int i = 0; i < 3; ++i) Server.Push(ScriptedAnswer::Ok(SolidTile(Green)));
    Sink.Hold();

    ASSERT_TRUE(StartViewFillWorker(State, std::move(first)));
    ASSERT_TRUE(Sink.WaitHeld(1));
    const auto firstStop = LoaderStop();
    RaiseViewLoaderStop(State);  // what the next refresh does first
    ASSERT_TRUE(StartViewFillWorker(State, std::move(second)));
    ASSERT_TRUE(Sink.WaitHeld(2));
    const auto secondStop = LoaderStop();
    EXPECT_EQ(LoaderCount(), 2);
    EXPECT_NE(firstStop, secondStop);
    EXPECT_EQ(firstStop->load(), 1);
    EXPECT_EQ(secondStop->load(), 0);
    Sink.Release();
    ASSERT_TRUE(WaitForViewLoaders(State, 60s));

    EXPECT_EQ(LoaderCount(), 0);
    EXPECT_EQ(Server.Requests().size(), 3u);  // the first worker's tile in flight, then none
    EXPECT_EQ(PixelAt(100, 100), Fill);
    EXPECT_EQ(PixelAt(300, 100), Fill);
    EXPECT_TRUE(Near(PixelAt(600, 100), Green));
    EXPECT_TRUE(Near(PixelAt(900, 100), Green));
    EXPECT_EQ(firstStop.use_count(), 1);  // both workers let go of their bytes
    EXPECT_EQ(secondStop.use_count(), 2);
}

TEST_F(TThLoadingTest, EmptyListStartsNothingAndClearsTheStopFlag) {
    {
        std::lock_guard<std::mutex> lock(State.ThreadLock);
        State.ViewLoaderStop = std::make_shared<std::atomic<uint8_t>>(1);
    }
    EXPECT_TRUE(StartViewFillWorker(State, nullptr));
    EXPECT_EQ(LoaderCount(), 0);
    EXPECT_FALSE(LoaderStop());
}

TEST_F(TThLoadingTest, DrawsUnderTheCanvasLockWhileTheGuiDrawsToo) {
    std::unique_ptr<jtype> list;
    const int tiles = 8;
    for (int i = 0; i < tiles; ++i) {
        Queue(list, std::string(i + 1, 'q'), (i % 4) * 256, (i / 4) * 256);
        Server.Push(ScriptedAnswer::Ok(SolidTile(Blue)));
    }
    ASSERT_TRUE(StartViewFillWorker(State, std::move(list)));
    // The GUI thread keeps drawing on the same bitmap meanwhile, as the view does.
    Bitmap patch(16, 16);
    patch.Fill(Fill);
    while (LoaderCount() > 0) {
        {
            auto lock = Canvas.LockCanvas();
            Canvas.Draw(1000, 500, patch);
        }
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(WaitForViewLoaders(State, 60s));
    EXPECT_EQ(Sink.RepaintCount(), tiles);
    EXPECT_TRUE(Near(PixelAt(1000, 300), Blue));
}

TEST_F(TThLoadingTest, TaskWorkerRunsItsBodyAtNormalPriorityAndFreesItself) {
    auto alive = std::make_shared<int>(0);
    std::weak_ptr<int> watch = alive;
    std::promise<int> policy;
    auto worker = std::make_unique<TThLoading>(State);
    worker->IsTask = true;
    worker->TaskBody = [keep = std::move(alive), &policy](TThLoading& self) {
        policy.set_value(self.IsTask ? sched_getscheduler(0) : -1);
    };
    ASSERT_TRUE(TThLoading::Start(std::move(worker)));
    auto result = policy.get_future();
    ASSERT_EQ(result.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(result.get(), SCHED_OTHER);
    // The thread frees the worker, and with it the body, once the body returns.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!watch.expired() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(watch.expired());
}
