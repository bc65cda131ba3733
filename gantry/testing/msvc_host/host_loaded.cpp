// A host built the way an application of Microsoft's compiler is, that loads
// gantry.dll at run time and finds the functions by the names that compiler
// gives them.

#include "host_checks.h"
#include "kernel32_min.h"

namespace {

#if defined(_WIN64)
#define CHAR_PTR "PEAD"
#else
#define CHAR_PTR "PAD"
#endif

// Finds name in the library, or prints it and counts a failure.
template <typename Function>
void Find(void* library, const char* name, Function* function, int* missing) {
  *function = reinterpret_cast<Function>(GetProcAddress(library, name));
  if (*function == nullptr) {
    PrintLine(name);
    ++*missing;
  }
}

}  // namespace

extern "C" void HostMain() {
  void* library = LoadLibraryA("gantry.dll");
  if (library == nullptr) {
    PrintLine("FAILED  LoadLibraryA(gantry.dll)");
    ExitProcess(100);
  }
  GantryCalls calls;
  int missing = 0;
  Find(library, "?IsEmulatorRunning@@YA_NXZ", &calls.isEmulatorRunning, &missing);
  Find(library, "?InstallFile@@YA_N" CHAR_PTR "@Z", &calls.installFile, &missing);
  Find(library, "?HasDatabase@@YA_N" CHAR_PTR "@Z", &calls.hasDatabase, &missing);
  Find(library, "?QuorvaneRt_ver@@YAFXZ", &calls.quorvaneRtVer, &missing);
  Find(library, "?LaunchApp@@YAX" CHAR_PTR "@Z", &calls.launchApp, &missing);
  Find(library, "?EmulatorReset@@YAXXZ", &calls.emulatorReset, &missing);
  Find(library, "?EmulatorStartAppLauncher@@YAXXZ", &calls.emulatorStartAppLauncher, &missing);
  Find(library, "?ExportDatabase@@YA_N" CHAR_PTR "0@Z", &calls.exportDatabase, &missing);
  Find(library, "?SaveScreen@@YA_N" CHAR_PTR "@Z", &calls.saveScreen, &missing);
  if (missing != 0) {
    PrintLine("FAILED  GetProcAddress found not the names above");
    ExitProcess(101);
  }
  ExitProcess(static_cast<unsigned int>(RunChecks(calls)));
}
