#pragma once

namespace larkconv {

// Runs one larkconv invocation: parses the command line, converts, prints every
// message to standard output and returns the exit status (0 or -1).
int RunLarkconv(int argc, char** argv);

}  // namespace larkconv
