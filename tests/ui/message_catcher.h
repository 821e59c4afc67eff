// Closes every message box that pops up in a window test and keeps its
// caption and text, so no test hangs on a box nobody answers.
#pragma once
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

class MessageCatcher : public QObject {
  public:
    QStringList Titles, Texts;

    MessageCatcher() {
        Timer.setInterval(10);
        QObject::connect(&Timer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                Titles << box->windowTitle();
                Texts << box->text();
                box->accept();
            }
        });
        Timer.start();
    }

  private:
    QTimer Timer;
};
