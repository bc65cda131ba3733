// Calls gantry's exports through the installed header and library: two of the
// first seven, and the two that came later, so that every generation of the
// export list is linked.
#include <gantry.h>

#include <cstdio>

int main() {
  bool running = IsEmulatorRunning();
  short version = QuorvaneRt_ver();
  char name[] = "MemoPad";
  char path[] = "/nonexistent/memo.pdb";
  bool exported = ExportDatabase(name, path);
  bool saved = SaveScreen(path);
  std::printf("running=%s version=%d export=%s screen=%s\n", running ? "true" : "false", version,
              exported ? "true" : "false", saved ? "true" : "false");
  return 0;
}
