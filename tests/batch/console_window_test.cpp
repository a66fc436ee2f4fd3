#include "batch/console_window.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

std::string Contents(FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    for (int c; (c = std::fgetc(f)) != EOF;)
        s += static_cast<char>(c);
    return s;
}

// A terminal stand-in: one end is the window's tty, the other holds the typed answers.
struct FakeTerminal {
    int fds[2] = {-1, -1};
    FILE* in = nullptr;
    FILE* out = nullptr;
    explicit FakeTerminal(const std::string& typed) {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        EXPECT_EQ(write(fds[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        shutdown(fds[1], SHUT_WR);
        in = fdopen(fds[0], "r");
        out = fdopen(dup(fds[0]), "w");
    }
    ~FakeTerminal() {
        std::fclose(in);
        std::fclose(out);
        close(fds[1]);
    }
    std::string shown() {
        std::string s;
        char buf[4096];
        ssize_t n;
        while ((n = recv(fds[1], buf, sizeof buf, MSG_DONTWAIT)) > 0)
            s.append(buf, static_cast<size_t>(n));
        return s;
    }
};

TEST(ConsoleWindow, LogToOutMessagesToErrAndPlainProgress) {
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    ConsoleWindow w(out, err, nullptr, nullptr, /*errStreamIsTerminal=*/false);
    w.logLineAdded("Reading /a b/é.bmp");
    w.setCounterText("Processing File 1 of 2");
    w.setLineProgress(50);
    w.showMessage("Unknown format. File skipped.", MessageIcon::Error);
    w.logLineAdded("Generating Palette...");
    w.lastLogLineChanged("Generating Palette...12 Colors Found");
    // Not a terminal: the changed line comes out once, as the log holds it.
    EXPECT_EQ(Contents(out), "Reading /a b/é.bmp\n");
    w.finish();
    EXPECT_EQ(Contents(out), "Reading /a b/é.bmp\nGenerating Palette...12 Colors Found\n");
    EXPECT_EQ(Contents(err),
              "Processing File 1 of 2\nbrellix-batch: Unknown format. File skipped.\n");
    // Without a terminal an existing file is replaced, as in an unattended run.
    EXPECT_EQ(w.askOverwrite("The filename \"x\" already exists."), OverwriteAnswer::Yes);
    std::fclose(out);
    std::fclose(err);
}

TEST(ConsoleWindow, ChangedLineIsRewrittenInPlaceOnATerminal) {
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    ConsoleWindow w(out, err, nullptr, nullptr, false, /*outStreamIsTerminal=*/true);
    w.logLineAdded("Generating Palette...");
    EXPECT_EQ(Contents(out), "Generating Palette...\n");
    w.lastLogLineChanged("Generating Palette...12 Colors Found");
    w.finish();
    EXPECT_EQ(Contents(out),
              "Generating Palette...\n\x1b[1A\r\x1b[2KGenerating Palette...12 Colors Found\n");
    std::fclose(out);
    std::fclose(err);
}

TEST(ConsoleWindow, AsksOnTheTerminal) {
    struct {
        const char* typed;
        OverwriteAnswer want;
    } cases[] = {
        {"y\n", OverwriteAnswer::Yes},    {"A\n", OverwriteAnswer::YesAll},
        {"n\n", OverwriteAnswer::No},     {"o\n", OverwriteAnswer::NoAll},
        {"c\n", OverwriteAnswer::Cancel}, {"x\nwhat\na\n", OverwriteAnswer::YesAll},
        {"", OverwriteAnswer::Cancel}, // end of input
    };
    for (const auto& c : cases) {
        FakeTerminal t(c.typed);
        FILE* out = std::tmpfile();
        ConsoleWindow w(out, out, t.in, t.out, false);
        EXPECT_EQ(w.askOverwrite("The filename \"f.png\" already exists."), c.want) << c.typed;
        EXPECT_NE(t.shown().find("The filename \"f.png\" already exists."), std::string::npos);
        std::fclose(out);
    }
    FakeTerminal t("s\n");
    FILE* out = std::tmpfile();
    ConsoleWindow w(out, out, t.in, t.out, false);
    EXPECT_EQ(w.askAbortOrSkip(), AbortOrSkip::Skip);
    std::fclose(out);
}

TEST(ConsoleWindow, CtrlCIsTheAbortButton) {
    FILE* out = std::tmpfile();
    ConsoleWindow w(out, out, nullptr, nullptr, false);
    ConsoleWindow::InstallInterruptHandler();
    EXPECT_FALSE(w.poll().abort);
    raise(SIGINT);
    EXPECT_TRUE(w.poll().abort);
    EXPECT_FALSE(w.poll().abort); // reported once
    EXPECT_TRUE(w.confirmAbort());
    signal(SIGINT, SIG_DFL);
    std::fclose(out);
}

} // namespace
