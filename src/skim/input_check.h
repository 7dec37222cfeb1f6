#pragma once
// The inputs of a run, checked before anything is written or any entry read.
#include <string>

class TChain;
class TObjArray;

namespace skim {

// Opens every file of `chain`, whose branch statuses are already set: each must hold the
// chain's tree, and every branch active in the first file must be in each other file with
// the same type (extra branches are fine). Records each file's entry count in the chain,
// so counting the chain's entries opens nothing again. Throws rootio::RootError naming
// the file, and for a branch that differs, the branch and the first file too. Each file,
// the first too, must also hold every branch the selection's event reader needs.
void check_chain_inputs(TChain& chain);

// Throws rootio::RootError naming `file_name` and the first branch the event reader the
// selection reads through needs (Heron::branch_names()) that is not among `branches`.
void check_reader_branches(const std::string& file_name, const TObjArray& branches);

}  // namespace skim
