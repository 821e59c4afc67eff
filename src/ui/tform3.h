#pragma once
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

struct MainState;

// The progress window: connection status and the error totals of the
// view's own lookups; its bar follows the running task. No command opens it.
class TForm3 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm3(QWidget* parent = nullptr);

    QProgressBar* ProgressBar1 = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr;
    QPushButton* Button1 = nullptr;

    void ShowErrorCounts(const MainState& state);
    // Centred on the main window when shown.
    void showEvent(QShowEvent* event) override;
};
