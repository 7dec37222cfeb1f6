#pragma once
// root:// and xroot:// URLs are read by the XRootD client, which lives in a plug-in
// library, libskim-xrootd.so (xrootd_source.cc), loaded on the first such URL: the
// client's libraries look at the network as they load (interfaces, reverse DNS), which a
// program reading local files must not pay. The plug-in is looked up beside the program,
// then one folder up (where the tests run from).
#include <memory>
#include <string>
#include <string_view>

#include "rootio/io/byte_source.h"

namespace rootio {

// Whether `name` is a URL the XRootD client reads: root:// or xroot://.
bool is_xrootd_url(std::string_view name);

// Opens `url` through the plug-in. Throws RootError naming `url` when the plug-in cannot
// be found or loaded, or the server cannot be reached or refuses the file.
std::unique_ptr<ByteSource> open_xrootd_source(const std::string& url);

// The plug-in's entry point, exported by xrootd_source.cc: the source for `url` (owned by
// the caller), or a RootError.
using OpenXRootDSource = ByteSource* (*)(const std::string& url);
inline constexpr const char* kXRootDPluginFile = "libskim-xrootd.so";
inline constexpr const char* kXRootDPluginEntry = "rootio_open_xrootd_source";

}  // namespace rootio
