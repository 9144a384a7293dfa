// ChildOrder: where the atoms that a container carries raw stood among its
// modelled children, so that unknown children keep their place. A container
// writes its modelled children in a fixed order of kinds (numbered from 0),
// all elements of one kind together: its header, its tracks in file order,
// each kind of table once, also when the file held a table twice (the later
// one's contents won) or not at all (the merge created it). Each raw atom is
// written right after the modelled child it followed when read, or before
// them all when it came first; raw atoms that followed one another stay in
// that order. A raw atom added after reading has no place of its own and
// goes where the container says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"
#include "atoms/child_walk.h"
#include "atoms/raw_atom.h"

class ChildOrder {
public:
    // What became of a child that is not a modelled one.
    static constexpr int kRaw = -1;      // kept raw, written back as read
    static constexpr int kDropped = -2;  // read, and left out of the written container

    // Right after the element `index` of `kind` (an index past the last
    // element means after the last), or before every modelled child.
    struct Place {
        int kind;
        size_t index;
    };
    static constexpr Place kBeforeAll{-1, 0};
    static Place after_last(int kind) { return {kind, SIZE_MAX}; }

    void clear();
    // Called for the children in the order read, with what became of each:
    // a modelled child of `kind` (the n-th of its kind read is element n),
    // kRaw (the child is added to `raw`) or kDropped.
    void add(int kind, RawAtomList& raw, const ChildAtom& child);

    // Writes the children: counts[k] elements of each kind k, each by
    // write_member(k, element), and the atoms of `raw`, those added after
    // reading at `unplaced`. Every element and every raw atom comes once.
    template <typename WriteMember>
    void write_into(BeWriter& w, const RawAtomList& raw, const std::vector<size_t>& counts, Place unplaced,
                    WriteMember&& write_member) const {
        for (const Item& item : items(counts, raw.count(), unplaced)) {
            if (item.kind == kRaw) w.bytes(raw.at(item.index));
            else write_member(item.kind, item.index);
        }
    }

private:
    // One child to write: the element `index` of the modelled `kind`, or of
    // kind kRaw, the raw atom `index`.
    struct Item {
        int kind;
        size_t index;
    };
    std::vector<Item> items(const std::vector<size_t>& counts, size_t raw_count, Place unplaced) const;

    std::vector<Place> places_;  // of the raw atoms read, in their order
    std::vector<size_t> read_;   // modelled children read so far, per kind
    Place last_ = kBeforeAll;
};
