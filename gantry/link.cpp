#include "link.h"
// Filled in by the emulator link work.
EmulatorLink::EmulatorLink() : sock(netsock::kInvalidSocket) {}
EmulatorLink::~EmulatorLink() {}
bool EmulatorLink::Connect() { return false; }
bool EmulatorLink::CallTrap(uint16_t, int, TrapParam*, uint32_t*) { return false; }
void EmulatorLink::Close() {}
