#include "driver.h"
// Filled in by the driver work.
int RunLarkconv(int, char**) { return -1; }
