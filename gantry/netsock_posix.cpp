#include "netsock.h"
// Filled in by the emulator link work.
