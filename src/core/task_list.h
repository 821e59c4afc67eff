#pragma once
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

struct stichtype;

// Told when a task is made, stopped or ends (urgent) and as tiles are done
// (not urgent), so that a record of the list can be kept. Called from any
// thread; returns at once.
class TaskListWatcher {
  public:
    virtual ~TaskListWatcher() = default;
    virtual void TasksChanged(bool urgent) = 0;
};

// The region tasks, newest first. The GUI thread walks it while the task
// worker unlinks its finished task: walkers hold shared pointers, so a task
// that leaves the list meanwhile stays alive until they let it go.
class TaskQueue {
  public:
    using Ptr = std::shared_ptr<stichtype>;

    void PushFront(Ptr task) {
        std::lock_guard<std::mutex> lock(Mutex);
        Items.insert(Items.begin(), std::move(task));
    }
    bool Remove(const stichtype* task) {
        std::lock_guard<std::mutex> lock(Mutex);
        for (auto it = Items.begin(); it != Items.end(); ++it)
            if (it->get() == task) {
                Items.erase(it);
                return true;
            }
        return false;
    }
    bool Contains(const stichtype* task) const {
        std::lock_guard<std::mutex> lock(Mutex);
        for (const Ptr& item : Items)
            if (item.get() == task) return true;
        return false;
    }
    Ptr Head() const {
        std::lock_guard<std::mutex> lock(Mutex);
        return Items.empty() ? nullptr : Items.front();
    }
    // The task at `index` from the head (0 newest); none when out of range.
    Ptr At(int index) const {
        std::lock_guard<std::mutex> lock(Mutex);
        if (index < 0 || static_cast<std::size_t>(index) >= Items.size()) return nullptr;
        return Items[static_cast<std::size_t>(index)];
    }
    std::vector<Ptr> Snapshot() const {
        std::lock_guard<std::mutex> lock(Mutex);
        return Items;
    }
    std::size_t Size() const {
        std::lock_guard<std::mutex> lock(Mutex);
        return Items.size();
    }
    bool Empty() const { return Size() == 0; }

  private:
    mutable std::mutex Mutex;
    std::vector<Ptr> Items;
};
