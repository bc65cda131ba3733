// A POSIX build runs natively, never under Wine.

#include "testing/under_wine.h"

namespace gantry_testing {

bool RunningUnderWine() {
  return false;
}

}  // namespace gantry_testing
