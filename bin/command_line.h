// The command line: switch words after one or more dashes, `f` taking the
// next argument verbatim as the file name.
#pragma once

// Sets the driver's flags and file name. Returns -1 to go on with start-up,
// or the exit status to end with (usage, an unknown switch, `f` without name).
int parse_command_line(int argc, char** argv);
