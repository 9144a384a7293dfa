// Every message of the program is one line on standard error, no prefix.
#pragma once

#include <cstdio>

#define say(...) std::fprintf(stderr, __VA_ARGS__)
