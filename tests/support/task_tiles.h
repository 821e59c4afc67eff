#pragma once
#include <vector>

#include "tasks/task_record.h"

// A task's tiles as the worker takes them, for checks on a few of them.
inline std::vector<jtype> TaskTileList(const stichtype& task) {
    std::vector<jtype> out;
    ForEachTaskTile(task.Tiles, [&](const jtype& t) {
        jtype copy;
        copy.Image.reset();
        copy.X = t.X;
        copy.Y = t.Y;
        copy.TileName = t.TileName;
        copy.Url = t.Url;
        copy.FileName = t.FileName;
        out.push_back(std::move(copy));
        return true;
    });
    return out;
}

inline jtype FirstTile(const stichtype& task) {
    std::vector<jtype> tiles = TaskTileList(task);
    return tiles.empty() ? jtype{} : std::move(tiles.front());
}
