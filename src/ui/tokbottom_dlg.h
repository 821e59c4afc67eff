#pragma once
#include <QDialog>

// Created at start-up and kept hidden until its features are built.
class TOKBottomDlg : public QDialog {
    Q_OBJECT
public:
    explicit TOKBottomDlg(QWidget* parent = nullptr) : QDialog(parent) {
        setWindowTitle(QStringLiteral("Параметры"));
    }
};
