#pragma once
// A TCP relay on localhost that holds every chunk it receives `delay` before passing it on,
// in each direction: a client talking to a server through it sees a round trip of twice
// the delay, as across a country or an ocean. Bounded: at most kMaxConnections connections
// and kMaxQueued bytes held per direction (past that it stops reading, and TCP holds the
// sender back). Everything stops with the object.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testutil {

class DelayRelay {
public:
    static constexpr int kMaxConnections = 16;
    static constexpr size_t kMaxQueued = size_t{64} << 20;

    // Relays connections to 127.0.0.1:`target_port`.
    DelayRelay(int target_port, std::chrono::milliseconds delay) : target_port_(target_port), delay_(delay)
    {
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr = loopback(0);
        socklen_t len = sizeof addr;
        if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listen_fd_, kMaxConnections) != 0 ||
            ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("relay: cannot listen on localhost");
        port_ = ntohs(addr.sin_port);
        accepter_ = std::thread([this] { accept_loop(); });
    }
    ~DelayRelay()
    {
        stop_ = true;
        accepter_.join();
        for (auto& pipe : pipes_) pipe->stop();
        pipes_.clear();
        ::close(listen_fd_);
    }
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    int port() const { return port_; }
    // The URL of `name` on the server behind the relay.
    std::string url(const std::string& name) const { return "root://localhost:" + std::to_string(port_) + "//" + name; }
    int connections() const { return connections_.load(); }

private:
    static sockaddr_in loopback(int port)
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return addr;
    }

    // One direction of one connection: a reader stamps each chunk, a writer sends it when due.
    class Pipe {
    public:
        Pipe(int from, int to, std::chrono::milliseconds delay) : from_(from), to_(to), delay_(delay)
        {
            reader_ = std::thread([this] { read_loop(); });
            writer_ = std::thread([this] { write_loop(); });
        }
        void stop()
        {
            {
                const std::lock_guard lock(mutex_);
                stop_ = true;
            }
            changed_.notify_all();
            ::shutdown(from_, SHUT_RDWR);
            ::shutdown(to_, SHUT_RDWR);
            reader_.join();
            writer_.join();
        }

    private:
        struct Chunk {
            std::chrono::steady_clock::time_point due;
            std::string bytes;  // empty: the sender closed
        };

        void read_loop()
        {
            std::string buffer(256 * 1024, '\0');
            while (true) {
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [&] { return stop_ || queued_ < kMaxQueued; });
                    if (stop_) return;
                }
                pollfd p{from_, POLLIN, 0};
                if (::poll(&p, 1, 100) == 0) continue;
                const ssize_t got = ::read(from_, buffer.data(), buffer.size());
                if (got < 0 && errno == EINTR) continue;
                const auto due = std::chrono::steady_clock::now() + delay_;
                {
                    const std::lock_guard lock(mutex_);
                    chunks_.push_back({due, got > 0 ? buffer.substr(0, static_cast<size_t>(got)) : std::string()});
                    queued_ += got > 0 ? static_cast<size_t>(got) : 0;
                }
                changed_.notify_all();
                if (got <= 0) return;
            }
        }

        void write_loop()
        {
            std::unique_lock lock(mutex_);
            while (true) {
                changed_.wait(lock, [&] { return stop_ || !chunks_.empty(); });
                if (stop_) return;
                const auto due = chunks_.front().due;
                if (changed_.wait_until(lock, due, [&] { return stop_.load(); })) return;
                Chunk chunk = std::move(chunks_.front());
                chunks_.pop_front();
                queued_ -= chunk.bytes.size();
                lock.unlock();
                changed_.notify_all();
                if (chunk.bytes.empty()) {
                    ::shutdown(to_, SHUT_WR);
                    return;
                }
                for (size_t done = 0; done < chunk.bytes.size();) {
                    const ssize_t put = ::send(to_, chunk.bytes.data() + done, chunk.bytes.size() - done, MSG_NOSIGNAL);
                    if (put < 0 && errno == EINTR) continue;
                    if (put <= 0) return;
                    done += static_cast<size_t>(put);
                }
                lock.lock();
            }
        }

        int from_;
        int to_;
        std::chrono::milliseconds delay_;
        std::mutex mutex_;
        std::condition_variable changed_;
        std::deque<Chunk> chunks_;
        size_t queued_ = 0;
        std::atomic<bool> stop_{false};
        std::thread reader_;
        std::thread writer_;
    };

    void accept_loop()
    {
        while (!stop_) {
            pollfd p{listen_fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in addr = loopback(target_port_);
            if (connections_ >= kMaxConnections || server < 0 ||
                ::connect(server, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
                ::close(client);
                if (server >= 0) ::close(server);
                continue;
            }
            const int one = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ++connections_;
            sockets_.push_back(std::make_unique<Sockets>(client, server));
            pipes_.push_back(std::make_unique<Pipe>(client, server, delay_));
            pipes_.push_back(std::make_unique<Pipe>(server, client, delay_));
        }
    }

    // Closes both ends once the pipes using them have stopped (they are destroyed first).
    struct Sockets {
        Sockets(int a, int b) : client(a), server(b) {}
        ~Sockets()
        {
            ::close(client);
            ::close(server);
        }
        int client;
        int server;
    };

    int target_port_;
    std::chrono::milliseconds delay_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::vector<std::unique_ptr<Sockets>> sockets_;  // declared before pipes_: destroyed after them
    std::vector<std::unique_ptr<Pipe>> pipes_;
    std::thread accepter_;
};

}  // namespace testutil
