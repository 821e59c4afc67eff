#pragma once
#include <QDialog>

// The settings dialog.
class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr) : QDialog(parent) {
        setWindowTitle(QStringLiteral("Настройки"));
    }
};
