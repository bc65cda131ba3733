#pragma once

// gantry: drives a Palm OS emulator on this machine over TCP on the loopback
// address. Every call opens its own connection. Calls may come from several
// threads at once: they take turns, first come first served, since the
// emulator serves one connection at a time. A call that can't connect within
// 5 s of its start (waiting for its turn included) fails as with no emulator;
// every request then waits at most 5 s for its reply. Failures show only in
// the results: nothing is printed, logged or thrown.
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
// Has the emulator install the file at this host path. The emulator opens the
// path itself, so it must make sense there. For a file gantry can read too,
// true only when the device then holds a database of the file's name, type,
// creator and creation date (a file shorter than a database header, or
// without a name, is refused unsent); for one it can't, true when the
// emulator reports success.
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
// Writes the device's database of this name (1 to 31 characters) to the file
// at path, an absolute path; true when the file then holds it. Whatever fails,
// a file at path is left as it was.
GANTRY_API bool ExportDatabase(char* name, char* path);
// Writes the emulator's screen to the file at path, an absolute path, as a BMP
// or (from the emulator's Unix build) PPM picture; true when the file then
// holds one. Whatever fails, a file at path is left as it was.
GANTRY_API bool SaveScreen(char* path);

// Strings are zero-terminated and fit the emulator's 272-byte request buffer:
// a path to install of at most 245 characters, a name to look up or launch of
// at most 251, a path for a screen shot of at most 251, and for an export
// 211 characters of path with a 31-character name (more with a shorter one).
// A longer string, a null pointer or a relative path where an absolute one is
// asked for makes the call fail without sending anything.
