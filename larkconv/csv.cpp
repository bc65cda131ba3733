#include "csv.h"
// Filled in by the CSV file work.
