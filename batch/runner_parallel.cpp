// Several files at a time, with everything the user sees as one at a time.
//
//   workers  take the next file of the list; wait for an earlier file that
//            writes what this one reads or writes; convert it with a runner
//            of its own (a copy of the script, the shared watermarks and
//            palette, a window that only keeps what it is told)
//   main     emits each file's log lines, messages and count in list order,
//            saves CURRENT.LOG after each, asks the overwrite questions when
//            their file's turn comes, and watches for Abort (Ctrl-C)
//
// So the outputs, the log, CURRENT.LOG and the counts are those of a run
// that converts one file at a time. Only an abort differs: files already
// converted by then are logged and counted, the unfinished ones are not,
// and "User abort. Processing halted." ends the log once.
#include "batch/runner.h"

#include "batch/batch_strings.h"
#include "script/script.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

class BatchRunner::ParallelRun {
  public:
    struct Message {
        size_t afterLine;  // shown once this many of the file's lines are out
        std::string text;
        MessageIcon icon;
    };
    struct File {
        std::string line;
        int waitFor = -1;  // an earlier file that writes this one's input or output
        enum class State { Waiting, Running, Finished, NotStarted } state = State::Waiting;
        FileOutcome outcome = FileOutcome::NotDone;
        std::vector<std::string> log;
        std::vector<Message> messages;
        size_t emitted = 0;  // lines (and messages) out already, before a question
        size_t messagesEmitted = 0;
        bool asking = false, answered = false;
        std::string question;
        OverwriteAnswer answer = OverwriteAnswer::Yes;
    };

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<File> files;
    size_t next = 0;
    std::atomic<bool> abort{false};
    // The file whose overwrite answer was Cancel: the run ends with it.
    size_t cancelledAt = SIZE_MAX;
    // Files at or past the point where they write (or finished), and the
    // first file that is not: a file writes only once every earlier one is.
    std::vector<bool> passed;
    size_t gate = 0;

    // Called with the mutex held.
    void pass(size_t k) {
        passed[k] = true;
        while (gate < passed.size() && passed[gate]) ++gate;
        changed.notify_all();
    }
};

// A worker's window: keeps the file's messages, hands questions to the main
// thread, reports the run's abort.
class BatchRunner::FileWindow : public BatchWindow {
  public:
    FileWindow(ParallelRun& run, size_t index) : run_(run), index_(index) {}
    // The log of the runner that reports here.
    void watch(const BatchLog* log) { log_ = log; }

    void logLineAdded(const std::string&) override {}
    void lastLogLineChanged(const std::string&) override {}
    void setCounterText(const std::string&) override {}
    void setStepText(const std::string&) override {}
    void setTitle(const std::string&) override {}
    void setFileName(const std::string&) override {}
    void setLineProgressLabel(const std::string&) override {}
    void setJobRange(int) override {}
    void setJobPosition(int) override {}
    void setLineProgress(int) override {}

    OverwriteAnswer askOverwrite(const std::string& question) override {
        std::unique_lock<std::mutex> lock(run_.mutex);
        ParallelRun::File& f = run_.files[index_];
        f.log = log_->lines();  // what the user sees before the question
        f.messages = messages_;
        f.question = question;
        f.answered = false;
        f.asking = true;
        run_.changed.notify_all();
        // A run that ends first (an abort, a Cancel for an earlier file)
        // leaves the question unasked: the file stops as if cancelled.
        run_.changed.wait(lock, [&] { return f.answered || run_.abort.load(); });
        f.asking = false;
        return f.answered ? f.answer : OverwriteAnswer::Cancel;
    }
    bool confirmAbort() override { return true; }
    AbortOrSkip askAbortOrSkip() override { return AbortOrSkip::Cancel; }
    void showMessage(const std::string& text, MessageIcon icon) override {
        messages_.push_back({log_->lines().size(), text, icon});
    }
    UserRequests poll() override {
        UserRequests r;
        r.abort = run_.abort.load();
        return r;
    }
    void finish() override {}

    const std::vector<ParallelRun::Message>& messages() const { return messages_; }

  private:
    ParallelRun& run_;
    size_t index_;
    const BatchLog* log_ = nullptr;
    std::vector<ParallelRun::Message> messages_;
};

BatchRunner::BatchRunner(const BatchRunner& parent, CScript& script, BatchWindow& window)
    : BatchRunner(script, window, parent.state_, nullptr) {
    marks_ = parent.marks_;
    optimumPalette_ = parent.optimumPalette_;
    optimumCount_ = parent.optimumCount_;
    runState_ = Running;
}

void BatchRunner::convertInParallel(const std::vector<std::string>& lines, int workers) {
    ParallelRun run;
    const size_t n = lines.size();
    run.files.resize(n);
    run.passed.assign(n, false);
    // A file waits for the last earlier file that writes its input or its
    // output: that is the order one file at a time would have.
    std::map<std::string, int> lastWriter;
    for (size_t k = 0; k < n; ++k) {
        ParallelRun::File& f = run.files[k];
        f.line = lines[k];
        std::string input, output;
        pathsOf(lines[k], &input, &output);
        for (const std::string& p : {input, output})
            if (auto it = lastWriter.find(p); it != lastWriter.end())
                f.waitFor = std::max(f.waitFor, it->second);
        lastWriter[output] = static_cast<int>(k);
    }

    using State = ParallelRun::File::State;
    auto work = [&] {
        for (;;) {
            size_t k;
            {
                std::unique_lock<std::mutex> lock(run.mutex);
                if (run.next >= n) return;
                k = run.next++;
                ParallelRun::File& f = run.files[k];
                run.changed.wait(lock, [&] {
                    return run.abort.load() || f.waitFor < 0 ||
                           run.files[size_t(f.waitFor)].state == State::Finished ||
                           run.files[size_t(f.waitFor)].state == State::NotStarted;
                });
                if (run.abort.load()) {
                    f.state = State::NotStarted;
                    run.pass(k);
                    continue;
                }
                f.state = State::Running;
            }
            // A script of its own: some commands write back into their slots.
            CScript script;
            for (int j = 0; j < script_.GetCount(); ++j)
                script.InsertCommand(std::make_unique<CScriptCommand>(*script_.GetCommand(j)), -1);
            FileWindow window(run, k);
            BatchRunner runner(*this, script, window);
            window.watch(&runner.log_);
            // When questions can be asked, an answer (Cancel) can end the run:
            // no file writes before every earlier one has been answered for.
            if (!state_.unattended)
                runner.beforeWrite_ = [&run, k] {
                    std::unique_lock<std::mutex> gateLock(run.mutex);
                    run.changed.wait(gateLock, [&] { return run.abort.load() || run.gate == k; });
                    run.pass(k);
                    return !run.abort.load();
                };
            const FileOutcome outcome =
                runner.processFile(run.files[k].line, int(k) + 1, int(n), /*print=*/false);
            std::lock_guard<std::mutex> lock(run.mutex);
            ParallelRun::File& f = run.files[k];
            f.log = runner.log_.lines();
            f.messages = window.messages();
            f.outcome = outcome;
            f.state = State::Finished;
            if (!run.passed[k]) run.pass(k);
            run.changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) threads.emplace_back(work);

    // Out to the user: the lines (and messages) of file k up to `lines`.
    auto emit = [&](ParallelRun::File& f, size_t upTo) {
        for (; f.emitted < upTo; ++f.emitted) {
            while (f.messagesEmitted < f.messages.size() &&
                   f.messages[f.messagesEmitted].afterLine <= f.emitted) {
                window_.showMessage(f.messages[f.messagesEmitted].text,
                                    f.messages[f.messagesEmitted].icon);
                ++f.messagesEmitted;
            }
            log_.add(f.log[f.emitted]);
        }
        for (; f.messagesEmitted < f.messages.size() &&
               f.messages[f.messagesEmitted].afterLine <= upTo;
             ++f.messagesEmitted)
            window_.showMessage(f.messages[f.messagesEmitted].text, f.messages[f.messagesEmitted].icon);
    };
    const std::string abortLine = LoadString(ids::UserAbort);
    bool aborted = false, cancelled = false;
    size_t turn = 0;  // the file whose lines come next
    std::unique_lock<std::mutex> lock(run.mutex);
    while (turn < n) {
        ParallelRun::File& f = run.files[turn];
        if (f.asking && !f.answered) {
            // Its turn: what it showed so far, then the question, as one at a time would.
            if (f.emitted == 0) {
                window_.setCounterText(FormatString(ids::ProcessingFile, int(turn) + 1, int(n)));
                window_.setTitle(FormatString(ids::ConversionTitle, int(turn) + 1, int(n)));
            }
            emit(f, f.log.size());
            // After an abort nothing more is asked: the file stops as if cancelled.
            OverwriteAnswer answer = run.abort.load() ? OverwriteAnswer::Cancel : lastAnswer_;
            if (answer != OverwriteAnswer::Cancel && lastAnswer_ != OverwriteAnswer::YesAll &&
                lastAnswer_ != OverwriteAnswer::NoAll) {
                const std::string question = f.question;
                lock.unlock();
                answer = window_.askOverwrite(question);
                lock.lock();
                lastAnswer_ = answer;
            }
            if (answer == OverwriteAnswer::Cancel) {
                run.abort = true;
                run.cancelledAt = turn;
            }
            f.answer = answer;
            f.answered = true;
            run.changed.notify_all();
            continue;
        }
        if (f.state == State::NotStarted) {
            aborted = true;
            ++turn;
            continue;
        }
        if (f.state == State::Finished && turn == run.cancelledAt) {
            // Cancelled at its question: the run ends here, as one at a time.
            emit(f, f.log.size());
            cancelled = true;
            break;
        }
        if (f.state == State::Finished) {
            const bool stopped =
                f.outcome == FileOutcome::Abort || f.outcome == FileOutcome::DoneThenAbort;
            aborted = aborted || stopped;
            if (f.outcome != FileOutcome::Abort) {
                // An abort is said once, at the end of the log.
                if (stopped && !f.log.empty() && f.log.back() == abortLine) f.log.pop_back();
                if (f.emitted == 0) {
                    window_.setCounterText(FormatString(ids::ProcessingFile, int(turn) + 1, int(n)));
                    window_.setTitle(FormatString(ids::ConversionTitle, int(turn) + 1, int(n)));
                }
                emit(f, f.log.size());
                if (f.outcome != FileOutcome::NotDone) ++successCount_;
            }
            window_.setJobPosition(int(turn) + 1);
            lock.unlock();
            saveCurrentLog();
            lock.lock();
            ++turn;
            continue;
        }
        run.changed.wait_for(lock, std::chrono::milliseconds(20));
        if (!run.abort.load()) {
            lock.unlock();
            const UserRequests r = window_.poll();
            const bool stop = r.abort && window_.confirmAbort();
            lock.lock();
            if (stop) {
                run.abort = true;
                run.changed.notify_all();
            }
        }
    }
    if (cancelled) {
        run.abort = true;
        run.changed.notify_all();
    }
    lock.unlock();
    for (std::thread& t : threads) t.join();
    if (cancelled) {
        aborted_ = stopNow_ = true;
        saveCurrentLog();
        return;
    }
    aborted_ = aborted;
    if (aborted) {
        stopNow_ = true;
        log_.add(abortLine);
        saveCurrentLog();
    }
}
