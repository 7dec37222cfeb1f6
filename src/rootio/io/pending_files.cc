#include "rootio/io/pending_files.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>

namespace rootio {

namespace {

// A fixed table, so that the signal handler reads it without locks or allocation; a
// program writes a handful of files at once.
constexpr int kSlots = 16;
constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};

enum SlotState : int { kFree, kFilling, kArmed };

struct Slot {
    std::atomic<int> state{kFree};
    int folder_fd = -1;
    char name[NAME_MAX + 1] = {};
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads slot states");

std::array<Slot, kSlots> slots;

// Holds in force, and the first signal that arrived during one (0: none). The handler
// stores the signal before it looks at the holds and a hold is counted before it looks
// at the signal, so at least one of the two sees the other.
std::atomic<int> holds{0};
std::atomic<int> held_signal{0};

// Async-signal-safe: atomics, unlinkat and _exit only.
[[noreturn]] void remove_pending_and_exit_now(int sig)
{
    for (Slot& slot : slots)
        if (slot.state.load() == kArmed) ::unlinkat(slot.folder_fd, slot.name, 0);
    ::_exit(128 + sig);
}

extern "C" void remove_pending_and_exit(int sig)
{
    int none = 0;
    held_signal.compare_exchange_strong(none, sig);
    if (holds.load() > 0) return;
    remove_pending_and_exit_now(held_signal.load());
}

void take_over_default_signals()
{
    struct sigaction action {};
    action.sa_handler = remove_pending_and_exit;
    sigfillset(&action.sa_mask);  // a second signal must not cut the cleanup short
    action.sa_flags = SA_RESTART;  // a held signal returns to the interrupted call
    for (const int sig : kFatalSignals) {
        struct sigaction current {};
        if (::sigaction(sig, nullptr, &current) != 0) continue;
        const bool is_default = !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL;
        if (is_default) ::sigaction(sig, &action, nullptr);
    }
}

}  // namespace

int register_pending_file(int folder_fd, std::string_view name) noexcept
{
    static std::once_flag handlers_installed;
    std::call_once(handlers_installed, take_over_default_signals);
    if (name.size() > NAME_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        Slot& slot = slots[static_cast<size_t>(i)];
        int expected = kFree;
        if (!slot.state.compare_exchange_strong(expected, kFilling)) continue;
        slot.folder_fd = folder_fd;
        std::memcpy(slot.name, name.data(), name.size());
        slot.name[name.size()] = '\0';
        slot.state.store(kArmed);
        return i;
    }
    return -1;
}

void forget_pending_file(int ticket) noexcept
{
    if (ticket >= 0 && ticket < kSlots) slots[static_cast<size_t>(ticket)].state.store(kFree);
}

PendingSignalsHold::PendingSignalsHold()
{
    holds.fetch_add(1);
    if (const int sig = held_signal.load()) remove_pending_and_exit_now(sig);
}

PendingSignalsHold::~PendingSignalsHold()
{
    if (holds.fetch_sub(1) == 1)
        if (const int sig = held_signal.load()) remove_pending_and_exit_now(sig);
}

}  // namespace rootio
