// Internal: label index assignment for the new element of an ensemble patch.
//
// The element correction is a byte diff from the encoded old program to the
// encoded new one, so its size depends on how alike the two encodings are.
// Literal bytes and operation codes follow from the images; the label
// indexes are the generator's choice. The assignment made here gives a new
// label the index of the old label that plays the same part (referenced
// from the same places, or lying at the corresponding address), so that the
// reference index streams and the label address tables of unchanged code
// come out identical to the old ones, and places the remaining new labels so
// that their indexes stay close to those of their neighbours.
#pragma once

#include <cstdint>
#include <vector>

#include "asm_program.h"

namespace vxdelta {

// One index per label of a map, in the map's ascending rva order.
struct LabelIndexes {
    std::vector<int32_t> abs32;
    std::vector<int32_t> rel32;
};

// How the new labels came by their indexes (for tests and diagnostics).
struct AlignmentStats {
    size_t runs = 0;         // aligned stretches of the two programs
    size_t byReference = 0;  // labels paired by the references to them
    size_t byAddress = 0;    // paired by their position in an aligned stretch
    size_t bySequence = 0;   // paired between two paired neighbours
    size_t fresh = 0;        // given an index no old label of theirs had
};

// Computes indexes for every label in newProgram's maps, given oldProgram
// with the indexes its labels carry (for an ensemble patch: the default
// assignment after trimming, as the applier produces them). The result is
// a valid assignment: within each map every index is non-negative and
// distinct. Neither program is modified. Throws std::bad_alloc only.
LabelIndexes AlignLabels(const AsmProgram &oldProgram, const AsmProgram &newProgram,
                         AlignmentStats *stats = nullptr);

// Gives newProgram's labels the indexes of assignment (made for it by
// AlignLabels). False, changing nothing, when the sizes do not match the
// program's maps.
bool ApplyLabelIndexes(const LabelIndexes &assignment, AsmProgram *program);

}  // namespace vxdelta
