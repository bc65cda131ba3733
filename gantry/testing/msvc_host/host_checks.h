#pragma once

// What both Microsoft-ABI test hosts check: every gantry function's answer,
// with the emulator running or with none. The hosts differ only in how they
// reach the functions (import library, or LoadLibraryA and GetProcAddress).

/// The nine gantry functions as a host reached them. Filled by a host's
/// entry point, called by RunChecks.
struct GantryCalls {
  bool (*isEmulatorRunning)();
  bool (*installFile)(char* path);
  bool (*hasDatabase)(char* name);
  short (*quorvaneRtVer)();
  void (*launchApp)(char* name);
  void (*emulatorReset)();
  void (*emulatorStartAppLauncher)();
  bool (*exportDatabase)(char* name, char* path);
  bool (*saveScreen)(char* path);
};

// Prints a line to standard output.
void PrintLine(const char* text);

// Runs the checks and returns the number that failed. With "online FOLDER" on
// the command line the emulator must be running (holding QuorvaneRT at version
// 0x8123 and MemoPad) and FOLDER (an absolute path without blanks) must hold
// DemoApp.prc, a database DemoApp; otherwise nothing may listen.
int RunChecks(const GantryCalls& calls);
