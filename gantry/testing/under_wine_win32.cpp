// Wine's ntdll exports wine_get_version; Windows' does not.

#include <windows.h>

#include "testing/under_wine.h"

namespace gantry_testing {

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace gantry_testing
