#include "bin/rebuild.h"

#include "bin/messages.h"

int build_new_movie(std::vector<unsigned char>&) {
    say("Conversion without dbg-move-moov is not available in this build\n");
    return 1;
}
