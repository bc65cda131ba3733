#include "pdb.h"
// Filled in by the PDB image work.
