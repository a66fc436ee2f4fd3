// Where preview work meets the window: one job at a time on a worker
// thread, with a status block whose progress callback reports the
// operation's percentage (as a queued signal) and answers "stop" once a stop
// was requested.
//
// The job must touch nothing the GUI thread changes meanwhile: it gets its
// inputs when it starts and leaves its outputs where the owner reads them
// after finished().
#pragma once

#include "core/errors.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class QThread;

class PreviewWorker : public QObject {
    Q_OBJECT
  public:
    using Job = std::function<KervErrorCode(StatusControlBlock* status)>;

    explicit PreviewWorker(QObject* parent = nullptr);
    // A running job is asked to stop and waited for.
    ~PreviewWorker() override;

    // False when a job is running already.
    bool start(Job job);
    bool running() const { return thread_ != nullptr; }

    // The running job's next progress call answers "stop"; stays set until
    // clearStop().
    void requestStop() { stop_ = true; }
    void clearStop() { stop_ = false; }
    bool stopRequested() const { return stop_; }

  signals:
    void progress(int percent);
    void statusText(const QString& text);
    // The job's code, on the GUI thread, after the thread has ended.
    void finished(KervErrorCode code);

  private:
    void onThreadFinished();

    QThread* thread_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<int> lastPercent_{-1};
    StatusControlBlock status_;
    KervErrorCode code_ = KERV_OK;
};
