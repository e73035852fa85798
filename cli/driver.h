// The program's flow: options, input, one codec stream, status.
#pragma once

namespace tessaly {

// Runs the program on its command line; returns the exit status or ends
// the process itself (help, version, errors).
int run_program(int argc, char** argv);

}  // namespace tessaly
