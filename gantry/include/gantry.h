#pragma once

// gantry: drives a Palm OS emulator on this machine over TCP on the loopback
// address. Every call opens its own connection, so calls may come from several
// threads at once. Failures show only in the results.

#if defined(_WIN32)
#if defined(GANTRY_BUILDING)
#define GANTRY_API __declspec(dllexport)
#else
#define GANTRY_API __declspec(dllimport)
#endif
#else
#define GANTRY_API __attribute__((visibility("default")))
#endif

// True when the emulator accepts a connection on port 2000 or 6415.
GANTRY_API bool IsEmulatorRunning();
// Has the emulator install the file at this host path; true when it reports success.
GANTRY_API bool InstallFile(char* path);
// True when a database of this name exists on the emulated device.
GANTRY_API bool HasDatabase(char* name);
// The version of the database "QuorvaneRT", or 0.
GANTRY_API short QuorvaneRt_ver();
// Launches the application whose database has this name, if there is one.
GANTRY_API void LaunchApp(char* name);
// Resets the emulated device.
GANTRY_API void EmulatorReset();
// Brings up the application launcher.
GANTRY_API void EmulatorStartAppLauncher();
