#pragma once
// What every program of the project does alike at its edges:
//  - `--help` (or -h): the usage on standard output, exit status 0;
//  - a usage error: "PROGRAM: WHAT" and the usage on standard error, exit status 2;
//  - any other error: "PROGRAM: MESSAGE", one printable line on standard error, exit 1;
//  - at the end, output lost on standard output (closed, full device, broken pipe with
//    SIGPIPE ignored) is an error too: one line, exit status 1, as the standard tools do.
// Include it from a program's main file only (it adds a start-up step to the executable).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "rootio/format/error.h"

namespace cli {

// A program started with a standard stream closed would hand its number to the next file
// opened (shared libraries open and duplicate descriptors before main), and messages would
// land in that file. Each closed stream gets /dev/null opened read-only in its place before
// anything else runs: writes then fail as on a closed stream (and are reported at the end).
inline void reserve_closed_standard_streams(int, char**, char**)
{
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int null = ::open("/dev/null", O_RDONLY);
        if (null > fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}
// Run from the executable's pre-initialisation array: before any library's constructors.
[[gnu::used, gnu::section(".preinit_array")]] static void (*const reserve_standard_streams_at_start)(
    int, char**, char**) = reserve_closed_standard_streams;

inline bool is_help(std::string_view arg)
{
    return arg == "--help" || arg == "-h";
}

inline void print_error(std::string_view program, std::string_view message)
{
    std::string line(program);
    line += ": ";
    rootio::append_printable(line, message, rootio::kErrorMessageLimit);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

// 0 when everything written to standard output got there; otherwise says so and gives 1.
inline int standard_output_status(std::string_view program)
{
    std::cout.flush();
    errno = 0;
    const bool flush_failed = std::fflush(stdout) != 0;
    int err = flush_failed ? errno : 0;
    if (!flush_failed && !std::ferror(stdout) && !std::cout.fail()) return 0;
    // An earlier failure left no errno behind; a closed (or read-only) stream is the one
    // cause that can still be told.
    const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    if (err == 0 && (flags < 0 || (flags & O_ACCMODE) == O_RDONLY)) err = EBADF;
    print_error(program, err ? std::string("standard output: write error: ") + std::strerror(err)
                             : std::string("standard output: write error"));
    return 1;
}

[[noreturn]] inline void show_help(std::string_view program, std::string_view usage)
{
    std::fwrite(usage.data(), 1, usage.size(), stdout);
    std::exit(standard_output_status(program));
}

[[noreturn]] inline void usage_error(std::string_view program, std::string_view what, std::string_view usage)
{
    print_error(program, what);
    std::fwrite(usage.data(), 1, usage.size(), stderr);
    std::exit(2);
}

}  // namespace cli
