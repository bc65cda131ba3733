#pragma once

// gantry: drives a Palm OS emulator on this machine over TCP on the loopback
// address. Every call opens its own connection, so calls may come from several
// threads at once. Failures show only in the results: nothing is printed,
// logged or thrown.
//
// The functions have C++ linkage on purpose: host applications find them by
// their decorated names. On Windows the library's build defines
// GANTRY_BUILDING, and a module-definition file may add further export names;
// a host that includes this header imports the functions from gantry.dll.

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
// Has the emulator install the file at this host path; true when it reports
// success. The emulator opens the path itself, so it must make sense there.
GANTRY_API bool InstallFile(char* path);
// True when a database of this name exists on the emulated device.
GANTRY_API bool HasDatabase(char* name);
// The version of the database "QuorvaneRT" (0x8000 and above come back
// negative), or 0 when it cannot be had.
GANTRY_API short QuorvaneRt_ver();
// Launches the application whose database has this name, if there is one.
GANTRY_API void LaunchApp(char* name);
// Resets the emulated device.
GANTRY_API void EmulatorReset();
// Brings up the application launcher.
GANTRY_API void EmulatorStartAppLauncher();

// Strings are zero-terminated: a path of at most 245 characters, a name of at
// most 251, so that the request fits the emulator's 272-byte request buffer.
// A longer string or a null pointer makes the call fail without sending
// anything.
