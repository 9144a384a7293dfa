#include "bin/command_line.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "bin/driver_state.h"
#include "bin/messages.h"

namespace {

void print_usage() {
    say("morvak_fragflat [options]\n");
    say(" -h --help                   Show help\n");
    say(" -f <MP4 file>               File to convert\n");
    say(" --undo                      Reverse conversion\n");
    say(" -n --dry-run                Check and report, write nothing\n");
}

struct FlagWord {
    const char* word;
    bool* flag;
};

const FlagWord kFlagWords[] = {
    {"undo", &do_undo},
    {"n", &dry_run},
    {"dry-run", &dry_run},
    {"dbg-force-tkhd-v1", &dbg_force_tkhd_v1},
    {"dbg-force-mdhd-v1", &dbg_force_mdhd_v1},
    {"dbg-force-mvhd-v1", &dbg_force_mvhd_v1},
    {"dbg-force-co64", &dbg_force_co64},
    {"dbg-force-mdat64", &dbg_force_mdat64},
    {"dbg-move-moov", &debug_move_moov},
    {"dbg-count-reads", &dbg_count_reads},
};

}  // namespace

int parse_command_line(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-') {
            say("Unexpected arg '%s'\n", arg);
            return 1;
        }
        const char* word = arg;
        while (*word == '-') ++word;
        if (std::strcmp(word, "h") == 0 || std::strcmp(word, "help") == 0) {
            print_usage();
            return 1;
        }
        if (std::strcmp(word, "version") == 0) {
            std::printf("morvak_fragflat %s\n", MORVAK_VERSION);
            return 0;
        }
        if (std::strcmp(word, "f") == 0) {
            if (i + 1 >= argc) return 1;
            mp4_file = argv[++i];
            continue;
        }
        bool known = false;
        for (const FlagWord& f : kFlagWords) {
            if (std::strcmp(word, f.word) == 0) {
                *f.flag = true;
                known = true;
                break;
            }
        }
        if (!known) {
            say("Unexpected switch '%s'\n", word);
            return 1;
        }
    }
    return -1;
}
