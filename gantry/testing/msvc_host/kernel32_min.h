#pragma once

// The few kernel32 functions a test host built for Microsoft's ABI uses. Such
// a host has no C run-time library and no system headers: it declares what it
// imports itself and links only kernel32 (see kernel32.def).

extern "C" {
__declspec(dllimport) void __stdcall ExitProcess(unsigned int exitCode);
__declspec(dllimport) char* __stdcall GetCommandLineA();
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) void* __stdcall LoadLibraryA(const char* file);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
}
