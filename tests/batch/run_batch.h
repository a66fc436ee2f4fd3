// Runs the console program brellix-batch as a child process, for the tests
// that check what a user of the command line sees. BRELLIX_BATCH_PATH is the
// program's path, set by the test's build.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace batchtest {

namespace fs = std::filesystem;

struct Result {
    int status = -1; // exit status, or 128 + signal
    std::string out, err;
};

// Runs brellix-batch in `cwd` with its own settings file and state folder.
// With interruptAfter, SIGINT is sent once standard output holds that text.
inline Result RunBatch(const std::vector<std::string>& args, const fs::path& cwd,
                const std::string& interruptAfter = "") {
    int outPipe[2], errPipe[2];
    EXPECT_EQ(pipe(outPipe), 0);
    EXPECT_EQ(pipe(errPipe), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        close(outPipe[0]), close(errPipe[0]);
        if (chdir(cwd.c_str()) != 0) _exit(99);
        setenv("BRELLIX_CONFIG", (cwd / "config/Brellix.conf").c_str(), 1);
        setenv("XDG_STATE_HOME", (cwd / "state").c_str(), 1);
        setenv("TMPDIR", cwd.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(BRELLIX_BATCH_PATH)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(BRELLIX_BATCH_PATH, argv.data());
        _exit(98);
    }
    close(outPipe[1]), close(errPipe[1]);
    fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
    fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
    Result r;
    bool interrupted = false, outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        char buf[4096];
        bool any = false;
        for (auto [fd, dst, open] :
             {std::tuple{outPipe[0], &r.out, &outOpen}, std::tuple{errPipe[0], &r.err, &errOpen}}) {
            if (!*open) continue;
            ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0)
                dst->append(buf, static_cast<size_t>(n)), any = true;
            else if (n == 0)
                *open = false;
        }
        if (!interruptAfter.empty() && !interrupted &&
            r.out.find(interruptAfter) != std::string::npos) {
            kill(pid, SIGINT);
            interrupted = true;
        }
        if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    close(outPipe[0]), close(errPipe[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return r;
}

} // namespace batchtest
