#include "rootio/tree/basket_record.h"

#include "rootio/format/error.h"
#include "rootio/format/printable.h"

namespace rootio {

std::string basket_context(const RootFile& file, const TreeInfo& tree, const BranchInfo& branch)
{
    return file.path() + ": branch " + printable(branch.name) + " of tree " + printable(tree.name);
}

bool record_in_file(const RootFile& file, int64_t seek, int32_t nbytes)
{
    return nbytes > 0 && seek > 0 && seek <= file.size() && nbytes <= file.size() - seek;
}

void decode_basket_record(BasketRecord& r, int64_t expected_entries, Decompressor& decompressor,
                          const std::string& context)
{
    auto bad = [&](const std::string& what) { throw RootError(context + ": " + what); };
    const auto nbytes = static_cast<int64_t>(r.raw.size());
    ByteReader in(r.raw, context);
    read_key_header(in, r.key);
    const KeyHeader& key = r.key;
    if (key.class_name != "TBasket") bad("record is a " + printable(key.class_name) + ", not a TBasket");
    if (key.nbytes != nbytes)
        bad("record says " + std::to_string(key.nbytes) + " bytes, the branch says " +
            std::to_string(nbytes));
    in.i16();  // basket class version
    in.i32();  // fBufferSize
    r.entry_size = in.i32();
    r.io_bits = 0;
    if (r.entry_size < 0) {
        if (r.entry_size == INT32_MIN) bad("entry size " + std::to_string(r.entry_size) + " is corrupt");
        r.entry_size = -r.entry_size;
        r.io_bits = in.u8();
    }
    r.entries = in.i32();
    r.last = in.i32();
    r.flag = in.u8();
    // ROOT takes the data from fKeylen on, wherever the header's parse ended; a key length
    // inside the header would make header bytes data.
    if (in.pos() > static_cast<size_t>(key.keylen))
        bad("key length " + std::to_string(key.keylen) + " ends inside the basket header (" +
            std::to_string(in.pos()) + " bytes)");
    if (r.entries != expected_entries)
        bad("holds " + std::to_string(r.entries) + " entries, the branch says " +
            std::to_string(expected_entries));

    const auto stored = std::span<const uint8_t>(r.raw).subspan(static_cast<size_t>(key.keylen));
    if (key.is_compressed()) {
        decompress_object(decompressor, stored, key.objlen, r.payload, context);
        r.object = std::span<const uint8_t>(r.payload).first(static_cast<size_t>(key.objlen));
    } else {
        r.object = stored.first(static_cast<size_t>(key.objlen));
    }
}

}  // namespace rootio
