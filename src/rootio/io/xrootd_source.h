#pragma once
// A file on an XRootD server (root://host[:port]//path), read with the XrdCl client: one
// request per read call, a vector read when it asks for several ranges. Built into the
// plug-in library that xrootd_plugin.h loads, not into the engine.
//
// Time-outs are bounded (see configure_xrootd_client); a server that cannot be reached,
// a file it does not have, and a connection lost mid-run all end in a RootError naming the
// URL and what happened.
#include <memory>
#include <string>
#include <string_view>

#include "rootio/io/byte_source.h"

namespace XrdCl {
class File;
}

namespace rootio {

// The client's time-outs and retries, unless the user set them in the environment
// (XRD_CONNECTIONWINDOW, XRD_CONNECTIONRETRY, XRD_REQUESTTIMEOUT, XRD_STREAMTIMEOUT,
// XRD_TIMEOUTRESOLUTION): a connection attempt waits at most 10 s and is made at most
// twice, a request waits at most 60 s for its answer, a silent connection is given up
// after 30 s, and time-outs are checked every second. The client logs nothing unless
// XRD_LOGLEVEL asks it to. Called before the first file is opened; calling it again
// does nothing.
void configure_xrootd_client();

class XRootDSource final : public ByteSource {
public:
    // Opens `url` for reading. Throws RootError naming `url` when the server cannot be
    // reached or refuses the file.
    static std::unique_ptr<XRootDSource> open(const std::string& url);
    ~XRootDSource() override;
    bool answers_after_a_round_trip() const override { return true; }

private:
    XRootDSource(std::string url, std::unique_ptr<XrdCl::File> file, int64_t size);
    void read_ranges(std::span<const ByteRange> ranges, std::string_view context) const override;
    // Asynchronous reads and vector reads: the client's threads complete the handle.
    std::unique_ptr<PendingRead> submit_ranges(std::span<const ByteRange> ranges,
                                               std::string_view context) const override;

    std::unique_ptr<XrdCl::File> file_;
};

}  // namespace rootio
