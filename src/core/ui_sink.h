#pragma once
#include <cstddef>
#include <memory>
#include <string>

struct stichtype;

// How workers and the tile store reach the windows without touching a widget.
// The GUI implements it with queued calls onto its thread; tests record.
class UiSink {
public:
    virtual ~UiSink() = default;
    // Status bar panel 3, the traffic text.
    virtual void SetTrafficText(const std::string& text) { (void)text; }
    // The map area should be repainted from ViewBitmap.
    virtual void RequestRepaint() {}
    // The progress window shows the error totals.
    virtual void ShowErrorCounts() {}
    // A task worker added line `index` to the task's log; the report window
    // follows it when it shows that task.
    virtual void TaskLogLine(const std::shared_ptr<stichtype>& task, std::size_t index) {
        (void)task;
        (void)index;
    }
    // The status label of the progress window ("Подключение...").
    virtual void SetProgressStatus(const std::string& text) { (void)text; }
    // A dial failed: one message box with the text and the caption "ошибки",
    // shown from the GUI thread whichever thread dialled; the caller goes on.
    virtual void ShowDialError(const std::string& text) { (void)text; }
    // Lets the GUI handle pending window events (GUI thread only).
    virtual void ProcessMessages() {}
};
