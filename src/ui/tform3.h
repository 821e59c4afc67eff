#pragma once
#include <QDialog>

// Created at start-up and kept hidden until its features are built.
class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr) : QDialog(parent) {
        setWindowTitle(QStringLiteral("Прогресс"));
    }
};
