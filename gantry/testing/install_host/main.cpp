// Calls two of gantry's exports through the installed header and library.
#include <gantry.h>

#include <cstdio>

int main() {
  bool running = IsEmulatorRunning();
  short version = QuorvaneRt_ver();
  std::printf("running=%s version=%d\n", running ? "true" : "false", version);
  return 0;
}
