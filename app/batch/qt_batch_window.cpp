#include "app/batch/qt_batch_window.h"

#include "app/batch/progress_window.h"

#include <condition_variable>
#include <mutex>
#include <optional>

// What the worker waits on. Shared with the posted questions, so a question
// still open when the adapter goes away touches nothing that is gone.
struct QtBatchWindow::Sync {
    std::mutex mutex;
    std::condition_variable changed;
    bool detached = false;
    bool closed = false;
    std::atomic<bool> abort{false};
    std::atomic<bool> escape{false};
};

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

QtBatchWindow::QtBatchWindow(BatchProgressWindow* window, QObject* parent)
    : QObject(parent), window_(window), sync_(std::make_shared<Sync>()) {
    std::shared_ptr<Sync> sync = sync_;
    connect(window, &BatchProgressWindow::abortRequested, this, [sync] { sync->abort = true; });
    connect(window, &BatchProgressWindow::escapeRequested, this, [sync] { sync->escape = true; });
    connect(window, &BatchProgressWindow::closedByUser, this, [sync] {
        {
            std::lock_guard<std::mutex> g(sync->mutex);
            sync->closed = true;
        }
        sync->changed.notify_all();
    });
}

QtBatchWindow::~QtBatchWindow() {
    detach();
}

void QtBatchWindow::detach() {
    {
        std::lock_guard<std::mutex> g(sync_->mutex);
        sync_->detached = true;
    }
    sync_->changed.notify_all();
}

void QtBatchWindow::post(std::function<void(BatchProgressWindow*)> f) {
    // Posted to this object: calls still queued when it is destroyed are
    // dropped with it.
    QMetaObject::invokeMethod(
        this, [w = window_, f = std::move(f)] { f(w.data()); }, Qt::QueuedConnection);
}

void QtBatchWindow::report(std::function<void(BatchProgressWindow*)> f) {
    if (!shown_.exchange(true))
        post([](BatchProgressWindow* w) {
            if (w) w->show();
        });
    post([f = std::move(f)](BatchProgressWindow* w) {
        if (w) f(w);
    });
}

template <class R>
R QtBatchWindow::ask(std::function<R(BatchProgressWindow*)> question, R whenDetached) {
    auto answer = std::make_shared<std::optional<R>>();
    {
        std::lock_guard<std::mutex> g(sync_->mutex);
        if (sync_->detached) return whenDetached;
    }
    post([sync = sync_, answer, question = std::move(question),
          whenDetached](BatchProgressWindow* w) {
        const R r = w ? question(w) : whenDetached;
        {
            std::lock_guard<std::mutex> g(sync->mutex);
            *answer = r;
        }
        sync->changed.notify_all();
    });
    std::unique_lock<std::mutex> lock(sync_->mutex);
    sync_->changed.wait(lock, [&] { return answer->has_value() || sync_->detached; });
    return answer->has_value() ? **answer : whenDetached;
}

void QtBatchWindow::logLineAdded(const std::string& line) {
    report([t = Q(line)](BatchProgressWindow* w) { w->addLogLine(t); });
}

void QtBatchWindow::lastLogLineChanged(const std::string& line) {
    report([t = Q(line)](BatchProgressWindow* w) { w->replaceLastLogLine(t); });
}

void QtBatchWindow::setCounterText(const std::string& text) {
    const QString t = Q(text);
    report([t](BatchProgressWindow* w) { w->setCounterText(t); });
    post([this, t](BatchProgressWindow*) { emit counterTextChanged(t); });
}

void QtBatchWindow::setStepText(const std::string& text) {
    report([t = Q(text)](BatchProgressWindow* w) { w->setStepText(t); });
}

void QtBatchWindow::setTitle(const std::string& text) {
    report([t = Q(text)](BatchProgressWindow* w) { w->setWindowTitle(t); });
}

void QtBatchWindow::setFileName(const std::string& name) {
    report([t = Q(name)](BatchProgressWindow* w) { w->setFileName(t); });
}

void QtBatchWindow::setLineProgressLabel(const std::string& text) {
    report([t = Q(text)](BatchProgressWindow* w) { w->setLineProgressLabel(t); });
}

void QtBatchWindow::setJobRange(int files) {
    report([files](BatchProgressWindow* w) { w->setJobRange(files); });
}

void QtBatchWindow::setJobPosition(int file) {
    report([file](BatchProgressWindow* w) { w->setJobPosition(file); });
}

void QtBatchWindow::setLineProgress(int percent) {
    // Every row of every operation reports; the bar only needs the changes.
    if (lastPercent_.exchange(percent) == percent) return;
    report([percent](BatchProgressWindow* w) { w->setLineProgress(percent); });
}

OverwriteAnswer QtBatchWindow::askOverwrite(const std::string& question) {
    return ask<OverwriteAnswer>(
        [q = Q(question)](BatchProgressWindow* w) { return w->askOverwrite(q); },
        OverwriteAnswer::Cancel);
}

bool QtBatchWindow::confirmAbort() {
    return ask<bool>([](BatchProgressWindow* w) { return w->confirmAbort(); }, true);
}

AbortOrSkip QtBatchWindow::askAbortOrSkip() {
    return ask<AbortOrSkip>([](BatchProgressWindow* w) { return w->askAbortOrSkip(); },
                            AbortOrSkip::Abort);
}

void QtBatchWindow::showMessage(const std::string& text, MessageIcon icon) {
    ask<bool>(
        [t = Q(text), icon](BatchProgressWindow* w) {
            w->showMessage(t, icon);
            return true;
        },
        true);
}

UserRequests QtBatchWindow::poll() {
    UserRequests r;
    r.abort = sync_->abort.exchange(false);
    r.escape = sync_->escape.exchange(false);
    std::lock_guard<std::mutex> g(sync_->mutex);
    if (sync_->detached) r.abort = true;
    return r;
}

void QtBatchWindow::finish() {
    report([](BatchProgressWindow* w) { w->finishRun(); });
}

void QtBatchWindow::waitUntilClosed() {
    // An aborted run ends without finish(); its window still needs its OK.
    report([](BatchProgressWindow* w) {
        if (!w->runFinished()) w->finishRun();
    });
    post([this](BatchProgressWindow*) { emit waitingForClose(); });
    std::unique_lock<std::mutex> lock(sync_->mutex);
    sync_->changed.wait(lock, [&] { return sync_->closed || sync_->detached; });
}

void QtBatchWindow::setMainStatus(const std::string& text) {
    post([this, t = Q(text)](BatchProgressWindow*) { emit mainStatusChanged(t); });
}

void QtBatchWindow::selectScriptLine(int index) {
    post([this, index](BatchProgressWindow*) { emit scriptLineSelected(index); });
}
