#pragma once
// Runs a program with `arguments` in a given folder with its standard output and error on
// pipes (so it is not a terminal), and collects both and the exit status. `in_child` runs
// in the child just before exec (to set resource limits, signal dispositions or the
// environment); `on_output` is called with the standard output so far each time more
// arrives, so a test can act at a given point of the run.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace skimtest {

struct RunResult {
    int exit_status = -1;  // -1 when the program did not exit normally
    int signal = 0;
    std::string out;
    std::string err;
};

inline RunResult run_program(const std::string& program, const std::string& folder,
                             const std::function<void()>& in_child = {},
                             const std::vector<std::string>& arguments = {},
                             const std::function<void(const std::string& out)>& on_output = {})
{
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int out_pipe[2], err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        if (in_child) in_child();
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);

    RunResult result;
    std::array<pollfd, 2> fds{{{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_fds = 2;
    char buf[65536];
    while (open_fds > 0) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
                if (i == 0 && on_output) on_output(result.out);
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

// The skim as built beside these tests.
inline std::string skim_program()
{
    return std::string(SKIM_BUILD_DIR) + "/skim";
}

}  // namespace skimtest
