#ifndef QUILLET_CLI_USAGE_H
#define QUILLET_CLI_USAGE_H

#include "Version.h"  // kVersionText, generated from the project's version

// Writes the seven-line usage text to standard output.
void PrintUsage();

#endif  // QUILLET_CLI_USAGE_H
