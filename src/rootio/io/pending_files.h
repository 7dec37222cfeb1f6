#pragma once
// Files being written under a temporary name, to be removed if a signal ends the program
// before they are complete: SIGINT, SIGTERM, SIGHUP, SIGPIPE and SIGXFSZ then remove every
// registered file and exit with status 128 + the signal number. Only signals still at
// their default action are taken over (an ignored SIGPIPE stays ignored, a program's own
// handler stays in place), once, when the first file is registered.
#include <string_view>

namespace rootio {

// Registers the file `name` of the folder open as `folder_fd`; the descriptor must stay
// open until the file is forgotten. Returns a ticket for forget_pending_file(), or -1 when
// the registry is full (the file then just has no signal cleanup).
int register_pending_file(int folder_fd, std::string_view name) noexcept;

// The file was renamed into place or removed: a signal leaves it alone from now on.
void forget_pending_file(int ticket) noexcept;

// While one exists, those signals wait: one arriving on any thread is acted on (pending
// files removed, exit 128 + N) when the last hold ends, so that files moved into place
// together are seen all or none. Creating a hold after such a signal arrived acts on it.
class PendingSignalsHold {
public:
    PendingSignalsHold();
    ~PendingSignalsHold();
    PendingSignalsHold(const PendingSignalsHold&) = delete;
    PendingSignalsHold& operator=(const PendingSignalsHold&) = delete;
};

}  // namespace rootio
