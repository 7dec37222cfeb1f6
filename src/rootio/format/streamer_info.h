#pragma once
// The StreamerInfo record: a TList of TStreamerInfo objects describing, class by class,
// the layout of everything a file of flat trees holds. Layouts, versions and checksums
// are those ROOT 6 writes; ROOT looks classes up by name, version and checksum, so any
// difference would make it warn or misread.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rootio/format/bytes.h"

namespace rootio {

// The classes to describe for trees whose leaves have the classes `leaf_classes` (e.g.
// "TLeafF", in order of first use), in the order ROOT lists them.
std::vector<std::string> streamer_classes_for_trees(std::span<const std::string> leaf_classes);

// True when the engine can describe `class_name`.
bool has_streamer_info(std::string_view class_name);
// Class version and checksum as stored; throws RootError for an unknown class.
int streamer_class_version(std::string_view class_name);
uint32_t streamer_checksum(std::string_view class_name);

// Appends the record's payload: a TList of the TStreamerInfo of each class in `classes`
// (throws RootError for an unknown one), followed, when TTree is among them, by the
// schema-rule list ROOT adds for TTree. `keylen` is the length of the record's key header.
void stream_streamer_infos(ByteWriter& out, int keylen, std::span<const std::string> classes);

}  // namespace rootio
