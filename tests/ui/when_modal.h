// Answers a modal window from inside the event loop of whoever shows it.
#pragma once
#include <QApplication>
#include <QTimer>
#include <functional>

// Runs `fn` on the first modal window of type T that shows up, from the
// event loop of whoever shows it.
template <class T>
void WhenModal(std::function<void(T*)> fn) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, fn] {
        auto* w = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!w || !w->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        fn(w);
    });
    timer->start();
}
