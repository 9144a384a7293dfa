// Atoms that a container carries without interpreting them: each is kept
// whole, header included, exactly as read, for the container to write back.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "atoms/be.h"
#include "atoms/child_walk.h"

using RawAtom = std::vector<unsigned char>;

class RawAtomList {
public:
    // A child of size 0 runs to its parent's end; its copy states its length,
    // as it may not stay last.
    void add(const ChildAtom& child) {
        atoms_.emplace_back(child.atom, child.atom + child.size);
        if (be::read_u32(child.atom) == 0 && child.size <= UINT32_MAX) {
            be::put_u32(atoms_.back().data(), static_cast<uint32_t>(child.size));
        }
    }
    // Adds the atom unless one with the same bytes is there already.
    void add_once(const RawAtom& atom) {
        if (std::find(atoms_.begin(), atoms_.end(), atom) == atoms_.end()) atoms_.push_back(atom);
    }
    // The first atom of this type, or null.
    const RawAtom* find(uint32_t type) const {
        for (const RawAtom& a : atoms_) {
            if (a.size() >= 8 && be::read_u32(a.data() + 4) == type) return &a;
        }
        return nullptr;
    }
    void clear() { atoms_.clear(); }
    bool empty() const { return atoms_.empty(); }
    size_t count() const { return atoms_.size(); }
    const RawAtom& at(size_t i) const { return atoms_[i]; }

private:
    std::vector<RawAtom> atoms_;
};
