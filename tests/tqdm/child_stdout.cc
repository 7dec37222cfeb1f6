#include "child_stdout.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

namespace tqdm_testing {

long long FakeClock::now_ns = 0;
int FakeClock::reads = 0;

void FakeClock::set_seconds(double s) { now_ns = std::llround(s * 1e9); }

tqdm::time_point FakeClock::now() {
    ++reads;
    return tqdm::time_point(std::chrono::nanoseconds(now_ns));
}

namespace {

void set_or_unset(const char* name, const std::optional<std::string>& value) {
    if (value) {
        setenv(name, value->c_str(), 1);
    } else {
        unsetenv(name);
    }
}

// Reads until end of file or, for a pty master, EIO once the child side is closed.
std::string drain(int fd) {
    std::string data;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            data.append(buf, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return data;
        }
    }
}

struct Fds {
    int read_end = -1;
    int child_end = -1;
};

Fds open_terminal() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("posix_openpt");
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0) throw std::runtime_error("open pty slave");
    termios tio{};
    tcgetattr(slave, &tio);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(slave, TCSANOW, &tio);
    return {master, slave};
}

Fds open_pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    return {fds[0], fds[1]};
}

}  // namespace

ChildResult run_in_child(StdoutKind kind, const ChildEnv& env, const std::function<std::string()>& body) {
    const Fds out = kind == StdoutKind::terminal ? open_terminal() : open_pipe();
    const Fds report = open_pipe();
    // Pending output of the test runner must not be inherited by the child.
    std::cout.flush();
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        dup2(out.child_end, 1);
        close(out.child_end);
        close(out.read_end);
        close(report.read_end);
        set_or_unset("STY", env.sty);
        set_or_unset("TMUX", env.tmux);
        const std::string text = body();
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = write(report.child_end, text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(out.child_end);
    close(report.child_end);
    ChildResult result;
    result.out = drain(out.read_end);
    result.report = drain(report.read_end);
    close(out.read_end);
    close(report.read_end);
    int status = 0;
    waitpid(pid, &status, 0);
    result.clean_exit = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

}  // namespace tqdm_testing
