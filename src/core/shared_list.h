#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A list of texts replaced whole on the GUI thread while other threads walk
// it: a walker takes a snapshot, so it never sees a list half-way replaced.
class SharedStringList {
public:
    using List = std::vector<std::string>;
    std::shared_ptr<const List> Snapshot() const {
        std::lock_guard<std::mutex> lock(Mutex);
        return Items;
    }
    void Replace(List items) {
        auto next = std::make_shared<const List>(std::move(items));
        std::lock_guard<std::mutex> lock(Mutex);
        Items = std::move(next);
    }
    List Copy() const { return *Snapshot(); }

private:
    mutable std::mutex Mutex;
    std::shared_ptr<const List> Items = std::make_shared<const List>();
};
