#pragma once
// A real XRootD server (Debian's xrootd daemon) on a free localhost port, serving a fresh
// temporary folder read-only for as long as the object lives. Tests publish files into it
// and read them back as root://localhost:PORT//NAME.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "framework/scratch_dir.h"

namespace testutil {

class XRootDServer {
public:
    XRootDServer() : port_(free_port())
    {
        namespace fs = std::filesystem;
        fs::create_directories(served());
        fs::create_directories(admin());
        fs::permissions(dir_.path(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
        fs::permissions(served(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
        // The daemon refuses to run as root: it switches to its own user, who must own the
        // folder it keeps its state and log in.
        const bool as_root = ::geteuid() == 0;
        const passwd* user = as_root ? ::getpwnam("xrootd") : nullptr;
        if (as_root && !user) user = ::getpwnam("nobody");
        if (user && ::chown(admin().c_str(), user->pw_uid, user->pw_gid) != 0)
            throw std::runtime_error("cannot hand the admin folder to the server's user");
        std::ofstream(config()) << "all.export / r/o\n"
                                << "oss.localroot " << served().string() << "\n"
                                << "xrd.port " << port_ << "\n"
                                << "xrd.allow host localhost\n"
                                << "all.adminpath " << admin().string() << "\n"
                                << "all.pidpath " << admin().string() << "\n";
        // Everything the child needs is prepared before fork: between fork and exec it only
        // moves descriptors.
        const std::string log = (admin() / "xrootd.log").string();
        const std::string config_path = config().string();
        const std::string run_as = user ? user->pw_name : "";
        // The daemon runs under a small shell that kills it when told to (SIGTERM) and when
        // this process is gone, so a test killed midway leaves no server behind (the daemon
        // drops privileges, which clears a parent-death signal).
        const std::string watchdog =
            "trap 'kill -9 $s $w 2>/dev/null; wait $s; exit 0' TERM; xrootd \"$@\" & s=$!; "
            "(while kill -0 " +
            std::to_string(::getpid()) +
            " 2>/dev/null; do sleep 1; done; kill -TERM $$) & w=$!; "
            "wait $s; kill -9 $w 2>/dev/null";
        std::vector<const char*> argv{"/bin/sh", "-c", watchdog.c_str(), "sh"};
        if (!run_as.empty()) argv.insert(argv.end(), {"-R", run_as.c_str()});
        argv.insert(argv.end(), {"-c", config_path.c_str(), "-l", log.c_str(), nullptr});
        const int err_fd =
            ::open((admin() / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(null_fd, 0);
            ::dup2(null_fd, 1);
            ::dup2(err_fd, 2);
            ::execv("/bin/sh", const_cast<char* const*>(argv.data()));
            ::_exit(127);
        }
        ::close(err_fd);
        ::close(null_fd);
        if (pid_ < 0) throw std::runtime_error("fork failed");
        wait_until_listening();
    }
    ~XRootDServer() { stop(); }
    XRootDServer(const XRootDServer&) = delete;
    XRootDServer& operator=(const XRootDServer&) = delete;

    int port() const { return port_; }
    // The URL of a file in the served folder.
    std::string url(const std::string& name) const
    {
        return "root://localhost:" + std::to_string(port_) + "//" + name;
    }
    // Copies a local file into the served folder, readable by the server; returns its URL.
    std::string publish(const std::string& local_path, const std::string& name) const
    {
        namespace fs = std::filesystem;
        const fs::path target = served() / name;
        fs::create_directories(target.parent_path());
        fs::copy_file(local_path, target, fs::copy_options::overwrite_existing);
        fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                    fs::perms::others_read);
        return url(name);
    }
    // Kills the server at once, as a crash would; does nothing once it is gone.
    void stop()
    {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);  // the watchdog kills the daemon with SIGKILL
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

private:
    static int free_port()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("no free port");
        ::close(fd);
        return ntohs(addr.sin_port);
    }

    void wait_until_listening()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                throw std::runtime_error("xrootd exited at start: " + read_text(admin() / "stderr.txt"));
            }
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<uint16_t>(port_));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
            ::close(fd);
            if (up) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        stop();
        throw std::runtime_error("xrootd did not listen on port " + std::to_string(port_) + " within 20 s");
    }

    static std::string read_text(const std::filesystem::path& path)
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path served() const { return dir_.path() / "served"; }
    std::filesystem::path admin() const { return dir_.path() / "admin"; }
    std::filesystem::path config() const { return dir_.path() / "xrootd.cfg"; }

    ScratchDir dir_;
    int port_;
    pid_t pid_ = -1;
};

}  // namespace testutil
