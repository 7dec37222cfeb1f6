#pragma once
// What a path is when it is not the regular file a program reads or writes, in the words
// every message uses.
#include <sys/types.h>

#include <string>

namespace rootio {

// "is a FIFO, not a regular file" (a directory, a character device ...).
std::string not_a_regular_file(mode_t mode);

}  // namespace rootio
