#include "rootio/io/file_kind.h"

#include <sys/stat.h>

namespace rootio {

std::string not_a_regular_file(mode_t mode)
{
    const char* kind = S_ISDIR(mode)    ? "a directory"
                       : S_ISFIFO(mode) ? "a FIFO"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : nullptr;
    return kind ? std::string("is ") + kind + ", not a regular file" : "not a regular file";
}

}  // namespace rootio
