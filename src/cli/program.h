#pragma once
// What every program of the project does alike at its edges:
//  - `--help` (or -h): the usage on standard output, exit status 0;
//  - a usage error: "PROGRAM: WHAT" and the usage on standard error, exit status 2;
//  - any other error: "PROGRAM: MESSAGE", one printable line on standard error, exit 1;
//  - at the end, output lost on standard output (closed, full device, broken pipe with
//    SIGPIPE ignored) is an error too: one line, exit status 1, as the standard tools do.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "rootio/error.h"

namespace cli {

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
