// Helpers of the batch windows' tests: answering modal dialogs and message
// boxes the way a user would, fresh settings and folders per test, and the
// sample images.
#pragma once

#include "core/settings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtCore/qtestsupport_core.h>

#include <functional>
#include <memory>

namespace batchtest {

// The modal widget on top when its objectName is name; null otherwise.
inline QWidget* ModalNamed(const QString& name) {
    QWidget* w = QApplication::activeModalWidget();
    return w && w->objectName() == name && w->isVisible() ? w : nullptr;
}

// Clicks the button named button inside w; false when there is none or it
// is disabled.
inline bool Click(QWidget* w, const QString& button) {
    if (!w) return false;
    auto* b = w->findChild<QAbstractButton*>(button);
    if (!b || !b->isEnabled()) return false;
    b->click();
    return true;
}

// Runs action on the modal widget named name as soon as it is shown. A
// modal box runs its own event loop inside whatever call opened it (the
// test's own call, or the event processing of a QTRY loop while a worker
// thread asks), so it is answered from a timer that fires inside that loop.
// The handle reports whether it ran.
struct Pending {
    bool ran = false;
};
inline std::shared_ptr<Pending> WhenShown(const QString& name,
                                          std::function<void(QWidget*)> action) {
    auto pending = std::make_shared<Pending>();
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, name, action, pending] {
        QWidget* w = ModalNamed(name);
        if (!w) return;
        timer->stop();
        timer->deleteLater();
        pending->ran = true;
        action(w);
    });
    timer->start();
    return pending;
}

// Answers every box named name that shows, in turn, with the next button of
// buttons (the last one again once they are used up), for as long as the
// handle lives. The boxes' texts are recorded.
struct Answers {
    QStringList texts;
    int answered() const { return int(texts.size()); }
    QPointer<QTimer> timer;
    ~Answers() { delete timer.data(); }
};
inline std::shared_ptr<Answers> AnswerEach(const QString& name, QStringList buttons) {
    auto answers = std::make_shared<Answers>();
    auto* timer = new QTimer(qApp);
    answers->timer = timer;
    timer->setInterval(5);
    std::weak_ptr<Answers> weak = answers;
    QObject::connect(timer, &QTimer::timeout, timer, [weak, name, buttons] {
        const auto a = weak.lock();
        QWidget* w = ModalNamed(name);
        if (!a || !w || buttons.isEmpty()) return;
        const auto* box = qobject_cast<QMessageBox*>(w);
        const QString text = box ? box->text() : w->windowTitle();
        if (Click(w, buttons.value(a->answered(), buttons.last()))) a->texts << text;
    });
    timer->start();
    return answers;
}

// The source tree's sample images.
inline QString SamplesFolder() {
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
           QStringLiteral("/../../samples/images");
}

// Copies every sample image into folder; the number copied.
inline int CopySamples(const QString& folder) {
    QDir().mkpath(folder);
    const QDir samples(SamplesFolder());
    int n = 0;
    for (const QString& name : samples.entryList(QDir::Files))
        n += QFile::copy(samples.filePath(name), folder + QLatin1Char('/') + name);
    return n;
}

// A settings file and state folder of this test's own, in dir.
inline void FreshSettings(const QTemporaryDir& dir) {
    AppSettings() = SettingsStore((dir.path() + QStringLiteral("/Brellix.conf")).toStdString());
    qputenv("XDG_STATE_HOME", (dir.path() + QStringLiteral("/state")).toLocal8Bit());
}

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace batchtest
