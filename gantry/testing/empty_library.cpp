// A shared library without gantry's exports, for gantry-host's lookup failure.
int GantryTestUnrelated() {
  return 1;
}
