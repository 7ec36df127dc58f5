#ifndef QUILLET_CLI_USAGE_H
#define QUILLET_CLI_USAGE_H

// Version of the tool, printed by -v.
inline constexpr char kVersionText[] = "1.4.0.11";

// Writes the seven-line usage text to standard output.
void PrintUsage();

#endif  // QUILLET_CLI_USAGE_H
