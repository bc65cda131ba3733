// The library's load entry point on Windows. gantry has no start-up or
// shutdown work of its own: every exported call sets up and tears down what it
// needs, so loading and unloading always succeed.

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}
