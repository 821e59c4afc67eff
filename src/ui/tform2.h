#pragma once
#include <QDialog>

// Created at start-up and kept hidden until its features are built.
class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr) : QDialog(parent) {
        setWindowTitle(QStringLiteral("Соединение"));
    }
};
