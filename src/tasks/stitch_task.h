#pragma once
#include <memory>
#include <string>

#include "tasks/stitch_image.h"
#include "tasks/task_record.h"

// A stitch task's output: what the worker gets is kept by a StitchImage and
// composed, compressed and saved when the task ends.
class StitchOutput : public TaskOutput {
public:
    // The image of width x height pixels for `fileName`; large tile data
    // spills into the output's own folder.
    StitchOutput(int width, int height, const std::string& fileName);

    void Prepare(stichtype& task) override;
    void PutTile(const jtype& tile) override;
    void PutFailed(const jtype& tile) override;
    void Finish(stichtype& task, const std::function<void(const std::string&)>& addLog) override;

private:
    StitchImage Image;
};

// The folder part of a path, ending with '/'; "./" for a bare name.
std::string FolderOf(const std::string& path);
