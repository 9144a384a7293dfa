// Every message of the program is one line on standard error, no prefix.
#pragma once

#include <cstdio>

#include "engine/outcome.h"

#define say(...) std::fprintf(stderr, __VA_ARGS__)

// The line of an engine outcome, with its values.
void say_outcome(const Outcome& o);
