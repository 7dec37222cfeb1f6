#pragma once
// The inputs of a run, checked before anything is written or any entry read.
class TChain;

namespace skim {

// Opens every file of `chain`, whose branch statuses are already set: each must hold the
// chain's tree, and every branch active in the first file must be in each other file with
// the same type (extra branches are fine). Records each file's entry count in the chain,
// so counting the chain's entries opens nothing again. Throws rootio::RootError naming
// the file, and for a branch that differs, the branch and the first file too.
void check_chain_inputs(TChain& chain);

}  // namespace skim
