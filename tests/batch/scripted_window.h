// A progress window for tests: records what the runner shows, answers its
// questions from queues, and can press Abort at a chosen poll.
#pragma once

#include "batch/batch_window.h"

#include <deque>
#include <string>
#include <vector>

struct ScriptedWindow : BatchWindow {
    std::vector<std::string> lines; // the log as shown
    std::vector<std::string> questions;
    std::vector<std::string> messages;
    std::deque<OverwriteAnswer> overwriteAnswers; // empty: "&Yes"
    std::deque<AbortOrSkip> escapeAnswers;
    int abortAtPoll = 0;  // poll number (1-based) that reports Abort; 0 never
    int escapeAtPoll = 0; // poll number that reports Escape
    int polls = 0;
    int jobRange = -1, jobPosition = -1;
    std::string title, counter;
    bool finished = false;

    void logLineAdded(const std::string& l) override { lines.push_back(l); }
    void lastLogLineChanged(const std::string& l) override { lines.back() = l; }
    void setCounterText(const std::string& t) override { counter = t; }
    void setStepText(const std::string&) override {}
    void setTitle(const std::string& t) override { title = t; }
    void setFileName(const std::string&) override {}
    void setLineProgressLabel(const std::string&) override {}
    void setJobRange(int n) override { jobRange = n; }
    void setJobPosition(int i) override { jobPosition = i; }
    void setLineProgress(int) override {}
    OverwriteAnswer askOverwrite(const std::string& q) override {
        questions.push_back(q);
        if (overwriteAnswers.empty()) return OverwriteAnswer::Yes;
        OverwriteAnswer a = overwriteAnswers.front();
        overwriteAnswers.pop_front();
        return a;
    }
    bool confirmAbort() override { return true; }
    AbortOrSkip askAbortOrSkip() override {
        if (escapeAnswers.empty()) return AbortOrSkip::Cancel;
        AbortOrSkip a = escapeAnswers.front();
        escapeAnswers.pop_front();
        return a;
    }
    void showMessage(const std::string& t, MessageIcon) override { messages.push_back(t); }
    UserRequests poll() override {
        ++polls;
        UserRequests r;
        r.abort = polls == abortAtPoll;
        r.escape = polls == escapeAtPoll;
        return r;
    }
    void finish() override { finished = true; }

    int count(const std::string& line) const {
        int n = 0;
        for (const auto& l : lines)
            n += l == line;
        return n;
    }
    bool hasPrefix(const std::string& prefix) const {
        for (const auto& l : lines)
            if (l.rfind(prefix, 0) == 0) return true;
        return false;
    }
};
