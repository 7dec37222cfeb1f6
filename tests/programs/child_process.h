#pragma once
// The built programs run as child processes: to completion through skimtest::run_program
// (standard output and error collected), with standard output on a chosen broken
// destination, or in the background to be signalled mid-run.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "skim/run_program.h"

namespace programs {

using Outcome = skimtest::RunResult;

inline std::string built(const std::string& program)
{
    return std::string(SKIM_BUILD_DIR) + "/" + program;
}

enum class Stdout {
    Captured,    // a pipe read by the test
    FullDevice,  // /dev/full: every write fails with ENOSPC
    Closed,      // descriptor 1 not open at all
    BrokenPipe,  // a pipe whose reading end is already closed
};

// Runs in the child, after the collecting pipes are in place.
inline void redirect_stdout(Stdout out)
{
    int broken[2];
    switch (out) {
        case Stdout::Captured:
            break;
        case Stdout::FullDevice:
            ::dup2(::open("/dev/full", O_WRONLY | O_CLOEXEC), 1);
            break;
        case Stdout::Closed:
            ::close(1);
            break;
        case Stdout::BrokenPipe:
            if (::pipe(broken) != 0) ::_exit(125);
            ::close(broken[0]);
            ::dup2(broken[1], 1);
            ::close(broken[1]);
            break;
    }
}

// `in_child` runs just before exec (resource limits, signal dispositions); a run taking
// two minutes is a hang and ends by SIGALRM.
inline Outcome run(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& folder, Stdout out = Stdout::Captured,
                   const std::function<void()>& in_child = {})
{
    return skimtest::run_program(
        program, folder.string(),
        [&] {
            redirect_stdout(out);
            ::alarm(120);
            if (in_child) in_child();
        },
        args);
}

// A program running in the background (standard output and error discarded), to be
// signalled while it runs. Killed if still running when destroyed.
class Background {
public:
    Background(const std::string& program, const std::vector<std::string>& args,
               const std::filesystem::path& folder, const std::function<void()>& in_child)
    {
        pid_ = ::fork();
        if (pid_ != 0) return;
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        ::alarm(120);
        in_child();
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ~Background()
    {
        if (status_ < 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    pid_t pid() const { return pid_; }

    // Waits (up to a minute) for `condition` while the program runs; false if it ended first.
    bool wait_until(const std::function<bool()>& condition)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (condition()) return true;
            if (::waitpid(pid_, &status_, WNOHANG) == pid_) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    Outcome wait()
    {
        if (status_ < 0)
            while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
            }
        Outcome r;
        if (WIFEXITED(status_)) r.exit_status = WEXITSTATUS(status_);
        if (WIFSIGNALED(status_)) r.signal = WTERMSIG(status_);
        return r;
    }

private:
    pid_t pid_ = -1;
    int status_ = -1;  // wait status once reaped
};

}  // namespace programs
