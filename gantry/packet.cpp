// Filled in by the emulator link work.
