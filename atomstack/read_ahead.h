// Reads the fragments an index names before the walk gets there, many at
// once: on a network share or a cold disk every read is a round trip, and a
// walk that learns each fragment's position from the one before pays them
// one after another. A bounded pool of threads reads each named position
// (the moof there and the header after it, sized as the walk expects a
// fragment's head to be) and holds the bytes until the walk takes them.
//
// The index is only a hint: the walk still goes from header to header and
// takes these bytes only where it arrives at a named position; positions it
// never arrives at cost a read and nothing else. At most kThreads reads are
// in flight (fewer while the reads keep ahead of the walk), at most kAhead positions beyond the walk are read, and the
// bytes held stay within kHeld (plus one read per thread).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "atomstack/file_reader.h"

class ReadAhead {
public:
    static constexpr size_t kThreads = 64;
    // Reads start with this many threads, doubled whenever the walk has to
    // wait: where reads are fast a few keep ahead without contention.
    static constexpr size_t kFirstThreads = 4;
    static constexpr size_t kAhead = 256;
    static constexpr uint64_t kHeld = uint64_t{32} << 20;
    // A moof larger than this is left for the walk to read the rest of.
    static constexpr uint64_t kMaxRead = uint64_t{2} << 20;

    // positions: file offsets of fragments, in any order; those at or past
    // `end` are dropped.
    ReadAhead(const FileReader& file, std::vector<uint64_t> positions, uint64_t end);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The bytes a fragment's head is expected to take.
    void expect(uint64_t bytes);
    // The bytes read from `pos` on, when `pos` was named (waiting for them if
    // they are in flight); positions before it are given up.
    bool take(uint64_t pos, std::vector<unsigned char>& out);

    size_t positions() const { return pos_.size(); }

private:
    enum class State : uint8_t { waiting, reading, done };
    struct Slot {
        State state = State::waiting;
        std::vector<unsigned char> bytes;
    };

    void work();
    void add_threads(size_t n);
    void read_slot(uint64_t at, uint64_t expected, std::vector<unsigned char>& out) const;

    FileReader file_;
    uint64_t end_;
    std::vector<uint64_t> pos_;
    std::vector<Slot> slots_;
    std::mutex mu_;
    std::condition_variable room_;  // threads wait for a slot they may read
    std::condition_variable done_;  // the walk waits for the slot it takes
    size_t next_ = 0;      // the next slot a thread claims
    size_t taken_ = 0;     // slots before this are the walk's or given up
    uint64_t held_ = 0;    // bytes read and not yet taken
    uint64_t expect_ = 8192;
    size_t awaited_ = SIZE_MAX;  // the slot the walk waits for
    size_t freed_ = 0;           // slots taken since the threads were last woken
    static constexpr size_t kWakeBatch = 32;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};
