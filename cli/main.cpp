#include "cli/driver.h"

int main(int argc, char** argv) { return tessaly::run_program(argc, argv); }
