// The atom stack: reads atom headers and bytes of one open file through a
// stack of atom records whose top is the container being read. A thin face
// of the file reader (atomstack/file_reader.h) and of the one header rule
// (atoms/atom_header.h), for code that walks a file atom by atom.
//
// Records are plain values. Each carries its own read position, so a record
// copied out of the stack reads from where it stood when copied, and pushing
// a record to read its children leaves the caller's copy unmoved.
//
// An atom that claims to run past its
// parent's end (a recording cut short) is still returned with its declared
// extent, but the parent's position stops at the parent's end, so a walk
// always ends; reads never go past the end of the file.
#pragma once

#include <cstdint>
#include <vector>

#include "atomstack/file_reader.h"

struct quicktime_atom {
    uint64_t start_offset = 0;          // first byte of the header
    uint64_t absolute_data_offset = 0;  // first byte after the header; 0 = no atom
    uint64_t end_offset = 0;            // just past the atom
    uint64_t data_length = 0;           // bytes after the header
    uint64_t position = 0;              // next byte to read (file offset)
    uint8_t is_64bit = 0;               // header with a 64-bit size
    uint8_t reserved = 0;
    uint8_t is_container = 0;           // set by hand when a span is walked as a container
    uint32_t reserved32 = 0;
    uint32_t type = 0;                  // four-character code, big-endian value
};

struct quicktime_stack;

quicktime_stack* quicktime_stack_create(int reserved);
int quicktime_stack_assign_fd(quicktime_stack* qt, int fd);
// The reader bound to the stack's file, as long as the file was when bound.
const FileReader& quicktime_stack_reader(quicktime_stack* qt);
// Leaves a single root record over the whole file, positioned at offset 0.
void quicktime_stack_empty(quicktime_stack* qt);
void quicktime_stack_push(quicktime_stack* qt, const quicktime_atom* atom);
quicktime_atom* quicktime_stack_top(quicktime_stack* qt);
void quicktime_stack_pop(quicktime_stack* qt);
// The record's position becomes its data start plus offset.
void quicktime_stack_seek(quicktime_stack* qt, quicktime_atom* atom, long offset);
// Reads the child at the parent's position into out and moves the parent past
// it. Zero when no header can be read there.
int quicktime_stack_read_atom(quicktime_stack* qt, quicktime_atom* parent, quicktime_atom* out);
// Bytes read from the record's position, at most count, never past its end or
// the end of the file; the position moves past them.
long quicktime_stack_read(quicktime_stack* qt, quicktime_atom* atom, void* buf, long count);
// Non-zero when the top's position is at or past its end (or the stack is empty).
int quicktime_stack_eof(quicktime_stack* qt);
quicktime_stack* quicktime_stack_destroy(quicktime_stack* qt);

// The walk over a container's children, in file order: the stack is emptied,
// `parent` pushed (null: the whole file) and read from its data start, and
// visit(child) called for each child until it returns false or no further
// child can be read. visit may read the child's bytes through the stack but
// must not empty it.
template <typename Visit>
void quicktime_walk(quicktime_stack* qt, const quicktime_atom* parent, Visit&& visit) {
    quicktime_stack_empty(qt);
    if (parent != nullptr) quicktime_stack_push(qt, parent);
    quicktime_atom* top = quicktime_stack_top(qt);
    quicktime_stack_seek(qt, top, 0);
    while (!quicktime_stack_eof(qt)) {
        quicktime_atom child;
        if (!quicktime_stack_read_atom(qt, top, &child) || !visit(child)) break;
    }
}
