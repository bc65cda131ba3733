#include "floattext.h"
// Filled in by the format engine work.
