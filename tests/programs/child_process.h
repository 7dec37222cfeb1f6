#pragma once
// Runs one of the built programs as a child process in a given folder, with its standard
// output on a pipe or on a chosen kind of broken destination, and standard error on a
// pipe. The child can be watched while it runs (to signal it mid-run) and then waited for.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace programs {

enum class Stdout {
    Captured,    // a pipe read by the test
    FullDevice,  // /dev/full: every write fails with ENOSPC
    Closed,      // descriptor 1 not open at all
    BrokenPipe,  // a pipe whose reading end is already closed
};

struct Outcome {
    int exit_status = -1;  // -1 when ended by a signal
    int signal = 0;
    std::string out;
    std::string err;
};

inline std::string built(const std::string& program) { return std::string(SKIM_BUILD_DIR) + "/" + program; }

class Child {
public:
    // `in_child` runs just before exec (resource limits, signal dispositions).
    Child(const std::string& program, const std::vector<std::string>& args, const std::filesystem::path& folder,
          Stdout out = Stdout::Captured, const std::function<void()>& in_child = {})
    {
        int out_pipe[2], err_pipe[2];
        if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        if (out == Stdout::BrokenPipe) ::close(out_pipe[0]);
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            ::dup2(err_pipe[1], 2);
            if (out == Stdout::Captured || out == Stdout::BrokenPipe) ::dup2(out_pipe[1], 1);
            if (out == Stdout::FullDevice) ::dup2(::open("/dev/full", O_WRONLY | O_CLOEXEC), 1);
            if (out == Stdout::Closed) ::close(1);
            if (::chdir(folder.c_str()) != 0) ::_exit(126);
            ::alarm(120);  // a hang fails the test (SIGALRM) instead of stalling the suite
            if (in_child) in_child();
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out_pipe[1]);
        ::close(err_pipe[1]);
        if (out == Stdout::Captured)
            fds_[0] = out_pipe[0];
        else if (out != Stdout::BrokenPipe)
            ::close(out_pipe[0]);
        fds_[1] = err_pipe[0];
    }
    ~Child()
    {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }

    // Reads what the child wrote so far, and tells whether it is still running.
    bool running()
    {
        pump(0);
        int status = 0;
        if (reaped_ || ::waitpid(pid_, &status, WNOHANG) == 0) return !reaped_;
        record(status);
        return false;
    }

    // Waits (up to a minute) until `condition` holds while the child runs; false if the
    // child ended first.
    bool wait_until(const std::function<bool()>& condition)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (running() && std::chrono::steady_clock::now() < deadline) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    Outcome wait()
    {
        while (fds_[0] >= 0 || fds_[1] >= 0) pump(-1);
        if (!reaped_) {
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            record(status);
        }
        return outcome_;
    }

private:
    void record(int status)
    {
        reaped_ = true;
        if (WIFEXITED(status)) outcome_.exit_status = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) outcome_.signal = WTERMSIG(status);
    }

    void pump(int timeout_ms)
    {
        std::vector<pollfd> polled;
        for (int fd : fds_)
            if (fd >= 0) polled.push_back({fd, POLLIN, 0});
        if (polled.empty() || ::poll(polled.data(), polled.size(), timeout_ms) <= 0) return;
        std::string* sinks[2] = {&outcome_.out, &outcome_.err};
        char buf[65536];
        for (int i = 0; i < 2; ++i) {
            for (const pollfd& p : polled) {
                if (p.fd != fds_[i] || !(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = ::read(fds_[i], buf, sizeof buf);
                if (n > 0) {
                    sinks[i]->append(buf, static_cast<size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    ::close(fds_[i]);
                    fds_[i] = -1;
                }
            }
        }
    }

    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    bool reaped_ = false;
    Outcome outcome_;
};

inline Outcome run(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& folder, Stdout out = Stdout::Captured,
                   const std::function<void()>& in_child = {})
{
    return Child(program, args, folder, out, in_child).wait();
}

}  // namespace programs
