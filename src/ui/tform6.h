#pragma once
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstddef>
#include <memory>

struct stichtype;

// The report window: the log of one task, followed while the task runs.
class TForm6 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm6(QWidget* parent = nullptr);

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;

    // Shows the window (not modal) with the task's whole log and follows it.
    void ShowTaskLog(const std::shared_ptr<stichtype>& task);
    // The memo's lines become the task's log.
    void Reload(const std::shared_ptr<stichtype>& task);
    // A worker wrote line `index` of the task's log (GUI thread). A hidden
    // window stops following the task until it is selected again.
    void LineAdded(const std::shared_ptr<stichtype>& task, std::size_t index);

  private:
    // The task the memo shows and the last of its lines there. Lines of
    // other tasks never land in it, and a line the memo has already got by
    // a reload is not added twice.
    std::weak_ptr<stichtype> Shown;
    long long LastIndex = -1;
};
