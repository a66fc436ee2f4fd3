#include "batch/console_window.h"

#include "batch/batch_strings.h"
#include "core/errors.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstring>

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
    g_interrupted.store(true);
}

int TerminalWidth(FILE* f) {
    winsize ws{};
    if (ioctl(fileno(f), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
    return 80;
}

} // namespace

ConsoleWindow::ConsoleWindow(FILE* out, FILE* err, FILE* ttyIn, FILE* ttyOut,
                             bool errStreamIsTerminal, bool outStreamIsTerminal)
    : out_(out), err_(err), ttyIn_(ttyOut ? ttyIn : nullptr), ttyOut_(ttyIn ? ttyOut : nullptr),
      barTerminal_(errStreamIsTerminal), outTerminal_(outStreamIsTerminal) {}

void ConsoleWindow::InstallInterruptHandler() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a question waiting on the terminal is interrupted too.
    // SA_RESETHAND: a second Ctrl-C ends the program the usual way.
    sa.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
}

bool ConsoleWindow::Interrupted() {
    return g_interrupted.load();
}

void ConsoleWindow::clearBar() {
    if (barShown_) {
        std::fputs("\r\033[K", err_);
        std::fflush(err_);
        barShown_ = false;
    }
}

void ConsoleWindow::drawBar() {
    if (!barTerminal_ || jobRange_ <= 0) return;
    const int width = TerminalWidth(err_);
    const int cells = 24;
    const int filled = jobRange_ ? jobPos_ * cells / jobRange_ : 0;
    std::string bar = "[";
    for (int i = 0; i < cells; ++i)
        bar += i < filled ? '#' : '-';
    bar += "] " + std::to_string(jobPos_) + "/" + std::to_string(jobRange_) + "  " +
           std::to_string(linePercent_) + "%  " + fileName_;
    if (static_cast<int>(bar.size()) > width - 1) bar.resize(static_cast<size_t>(width - 1));
    if (bar == lastBar_ && barShown_) return;
    lastBar_ = bar;
    std::fputs(("\r\033[K" + bar).c_str(), err_);
    std::fflush(err_);
    barShown_ = true;
}

void ConsoleWindow::writeLine(const std::string& line) {
    clearBar();
    std::fputs(line.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
    drawBar();
}

void ConsoleWindow::flushHeldLine() {
    if (!holding_) return;
    holding_ = false;
    writeLine(held_);
}

void ConsoleWindow::logLineAdded(const std::string& line) {
    if (outTerminal_) {
        writeLine(line);
        return;
    }
    flushHeldLine();
    held_ = line;
    holding_ = true;
}

void ConsoleWindow::lastLogLineChanged(const std::string& line) {
    if (!outTerminal_) {
        held_ = line;
        holding_ = true;
        return;
    }
    // Up one line, to its start, and clear it (the bar, if any, is cleared
    // first and sits below it).
    clearBar();
    std::fputs("\x1b[1A\r\x1b[2K", out_);
    writeLine(line);
}

void ConsoleWindow::setCounterText(const std::string& text) {
    if (!barTerminal_) {
        std::fputs((text + "\n").c_str(), err_);
        std::fflush(err_);
    }
}

void ConsoleWindow::setFileName(const std::string& name) {
    fileName_ = name;
    drawBar();
}

void ConsoleWindow::setJobRange(int files) {
    jobRange_ = files;
    drawBar();
}

void ConsoleWindow::setJobPosition(int file) {
    jobPos_ = file;
    drawBar();
}

void ConsoleWindow::setLineProgress(int percent) {
    if (percent == linePercent_) return;
    linePercent_ = percent;
    drawBar();
}

char ConsoleWindow::ask(const std::string& question, const std::string& prompt,
                        const char* accepted) {
    clearBar();
    for (;;) {
        std::fprintf(ttyOut_, "%s\n%s", question.c_str(), prompt.c_str());
        std::fflush(ttyOut_);
        char buf[256];
        if (!std::fgets(buf, sizeof buf, ttyIn_)) {
            clearerr(ttyIn_);
            std::fputc('\n', ttyOut_);
            std::fflush(ttyOut_);
            return 0;
        }
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(buf[0])));
        if (c != 0 && std::strchr(accepted, c)) {
            drawBar();
            return c;
        }
    }
}

OverwriteAnswer ConsoleWindow::askOverwrite(const std::string& question) {
    if (!ttyIn_) return OverwriteAnswer::Yes;
    switch (ask(question, LoadString(ids::ConsoleOverwritePrompt), "yanoc")) {
    case 'y':
        return OverwriteAnswer::Yes;
    case 'a':
        return OverwriteAnswer::YesAll;
    case 'n':
        return OverwriteAnswer::No;
    case 'o':
        return OverwriteAnswer::NoAll;
    default:
        return OverwriteAnswer::Cancel;
    }
}

AbortOrSkip ConsoleWindow::askAbortOrSkip() {
    if (!ttyIn_) return AbortOrSkip::Abort;
    switch (ask(LoadString(ids::AbortOrSkipQuestion), LoadString(ids::ConsoleAbortPrompt), "asc")) {
    case 's':
        return AbortOrSkip::Skip;
    case 'c':
        return AbortOrSkip::Cancel;
    default:
        return AbortOrSkip::Abort;
    }
}

void ConsoleWindow::showMessage(const std::string& text, MessageIcon) {
    clearBar();
    std::fprintf(err_, "brellix-batch: %s\n", text.c_str());
    std::fflush(err_);
    drawBar();
}

UserRequests ConsoleWindow::poll() {
    UserRequests r;
    r.abort = g_interrupted.exchange(false);
    return r;
}

void ConsoleWindow::finish() {
    flushHeldLine();
    clearBar();
}
