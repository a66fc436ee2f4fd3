// What the screenshot programs share: letting the windows settle, and saving
// a widget's picture with a line on standard error saying where it went.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QThread>
#include <QWidget>

#include <cstdio>

namespace shot {

// Runs the event loop for ms milliseconds, so layouts, timers and repaints
// have happened before a picture is taken.
inline void Settle(int ms = 300) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

inline bool Save(QWidget& widget, const QString& folder, const QString& name) {
    const QString path = folder + '/' + name;
    const bool ok = widget.grab().save(path);
    std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace shot
