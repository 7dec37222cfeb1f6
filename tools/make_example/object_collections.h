#pragma once
// The reconstructed-object collections with their full field lists; the event model fills
// their kinematics and the selection's inputs, the rest is drawn per field.
#include "catalogue.h"

namespace make_example {

Collection electrons();
Collection muons();
Collection taus();
Collection photons();
Collection jets();
Collection fat_jets();

}  // namespace make_example
