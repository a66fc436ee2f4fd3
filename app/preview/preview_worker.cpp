#include "app/preview/preview_worker.h"

#include <QThread>

PreviewWorker::PreviewWorker(QObject* parent) : QObject(parent) {
    status_.owner = this;
    status_.progress = [this](StatusControlBlock* s) {
        const int percent = ProgressPercent(*s);
        if (lastPercent_.exchange(percent) != percent) emit progress(percent);
        return stop_ ? 1 : 0;
    };
    status_.setStatusText = [this](StatusControlBlock*, const char* text) {
        emit statusText(QString::fromUtf8(text ? text : ""));
    };
}

PreviewWorker::~PreviewWorker() {
    if (!thread_) return;
    stop_ = true;
    thread_->wait();
    delete thread_;
}

bool PreviewWorker::start(Job job) {
    if (thread_) return false;
    status_.current = status_.total = status_.pass = status_.passCount = 0;
    lastPercent_ = -1;
    thread_ = QThread::create([this, job = std::move(job)] { code_ = job(&status_); });
    connect(thread_, &QThread::finished, this, &PreviewWorker::onThreadFinished);
    thread_->start();
    return true;
}

void PreviewWorker::onThreadFinished() {
    if (!thread_) return;
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    emit finished(code_);
}
