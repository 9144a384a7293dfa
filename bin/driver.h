// The program's entry: parses the command line and runs one job on one file.
#pragma once

int run_driver(int argc, char** argv);
