#include "tasks/th_loading.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <system_error>
#include <thread>

namespace {

// Background filling must never slow the window down.
void LowerToIdlePriority() {
    sched_param param{};
    param.sched_priority = 0;
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

std::unique_ptr<jtype> Reversed(std::unique_ptr<jtype> list) {
    std::unique_ptr<jtype> out;
    while (list) {
        std::unique_ptr<jtype> next = std::move(list->Next);
        list->Next = std::move(out);
        out = std::move(list);
        list = std::move(next);
    }
    return out;
}

}  // namespace

void TThLoading::Execute() {
    if (IsTask) {
        if (TaskBody)
            TaskBody(*this);
        else
            TaskModeBody();
    } else {
        ViewFillBody();
    }
}

void TThLoading::ViewFillBody() {
    auto stopped = [this] { return StopFlag && StopFlag->load() != 0; };
    // The view queues at the head; reversed once, the head is the oldest tile.
    Nodes = Reversed(std::move(Nodes));
    while (Nodes) {
        std::unique_ptr<jtype> node = std::move(Nodes);
        Nodes = std::move(node->Next);
        if (!stopped() && GetTile(State, *this, *node) && node->Canvas) {
            bool drawn = false;
            {
                // The stop byte is tested under the canvas lock: a new view
                // raises it before drawing, so a tile of the old view can
                // never land on the new picture.
                auto lock = node->Canvas->LockCanvas();
                if (!stopped()) {
                    node->Canvas->Draw(node->X, node->Y, node->Image->Picture());
                    drawn = true;
                }
            }
            if (drawn) State.Sink->RequestRepaint();
        }
    }
    // Nothing of State is touched after this: the shutdown may be waiting
    // for exactly this count to free it.
    std::lock_guard<std::mutex> lock(State.ThreadLock);
    --State.ViewLoaderCount;
    StopFlag.reset();
}

bool TThLoading::Start(std::unique_ptr<TThLoading> worker) {
    const bool idle = !worker->IsTask;
    try {
        std::thread([self = std::move(worker), idle]() mutable {
            if (idle) LowerToIdlePriority();
            self->Execute();
            self.reset();
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool StartViewFillWorker(MainState& state, std::unique_ptr<jtype> nodes) {
    if (!nodes) {
        std::lock_guard<std::mutex> lock(state.ThreadLock);
        state.ViewLoaderStop.reset();
        return true;
    }
    auto stop = std::make_shared<std::atomic<uint8_t>>(0);
    auto worker = std::make_unique<TThLoading>(state);
    worker->IsTask = false;
    worker->Nodes = std::move(nodes);
    worker->StopFlag = stop;
    {
        std::lock_guard<std::mutex> lock(state.ThreadLock);
        state.ViewLoaderStop = stop;
        ++state.ViewLoaderCount;
    }
    if (TThLoading::Start(std::move(worker))) return true;
    std::lock_guard<std::mutex> lock(state.ThreadLock);
    --state.ViewLoaderCount;
    if (state.ViewLoaderStop == stop) state.ViewLoaderStop.reset();
    return false;
}
