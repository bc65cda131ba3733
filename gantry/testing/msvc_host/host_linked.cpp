// A host built the way an application of Microsoft's compiler is, that links
// against gantry.lib: gantry.h as shipped, the compiler's decorated names, the
// linker resolving them from the import library.

#include "gantry.h"
#include "host_checks.h"
#include "kernel32_min.h"

extern "C" void HostMain() {
  GantryCalls calls = {IsEmulatorRunning,        InstallFile,    HasDatabase,
                       QuorvaneRt_ver,           LaunchApp,      EmulatorReset,
                       EmulatorStartAppLauncher, ExportDatabase, SaveScreen};
  ExitProcess(static_cast<unsigned int>(RunChecks(calls)));
}
