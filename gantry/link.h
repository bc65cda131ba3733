#pragma once

#include <cstdint>

#include "netsock.h"

/// One parameter of a remote trap call. The caller owns the values: for 'w'
/// and 'd' value points at its uint16_t or uint32_t, for 's' at the string.
struct TrapParam {
  char kind;    // 'w' 16-bit word, 'd' 32-bit double word, 's' zero-terminated string
  void* value;
  int byRef;    // 1: written back from the reply ('w' and 'd' only)
};

/// One loopback connection to the emulator for the length of one exported
/// call: connect, at most a couple of trap calls, close. Never shared.
class EmulatorLink {
 public:
  EmulatorLink();
  ~EmulatorLink();
  EmulatorLink(const EmulatorLink&) = delete;
  EmulatorLink& operator=(const EmulatorLink&) = delete;

  // Connects to 127.0.0.1 port 2000, else (on a fresh socket) port 6415.
  bool Connect();

  // Sends one trap call and waits up to 5 s for its reply. True when a reply
  // came: then *resultD0 (if given) and every by-reference 'w'/'d' parameter
  // hold the reply's values. False, writing nothing, otherwise; a string
  // parameter longer than 253 characters is refused before anything is sent.
  bool CallTrap(uint16_t trap, int count, TrapParam* params, uint32_t* resultD0);

  void Close();

 private:
  netsock::Socket sock;
  uint8_t transId = 0;
  bool winsockStarted = false;
  bool primaryPort = false;
};
