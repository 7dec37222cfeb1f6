#pragma once
// TTree (class version 20) with its TBranch (13) and leaf (TLeafO/B/S/I/L/F/D) objects, as
// ROOT streams them into a tree record. Every basket must be on disk already: fBaskets is
// written with null slots only.
#include "rootio/format/bytes.h"
#include "rootio/tree/tree_model.h"

namespace rootio {

// Appends the tree object. `keylen` is the key length of the record it goes into (object
// tags are key-relative). Count branches must precede the branches they count.
void stream_tree(ByteWriter& out, int keylen, const TreeInfo& tree);

}  // namespace rootio
