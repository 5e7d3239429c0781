// Label alignment. Both programs are flattened into one token per image
// byte (a literal byte, or a reference kind followed by padding for the
// operand's remaining bytes), so that identical code is an identical token
// sequence whatever its labels' addresses. Stretches that occur in both
// sequences are found from sampled windows whose content is unique in the
// old program and extended while the two sides agree. Labels are then
// paired in three steps, each only among what the earlier ones left:
//
//  1. by reference: a reference inside an aligned stretch votes for pairing
//     its new label with the old label at the same place, with the
//     stretch's length as its weight; labels take the partner with the
//     most weight, the strongest pairs first. Short stretches are often
//     chance agreements of look-alike code (a prologue and a call), so a
//     label that one long stretch pairs is not taken by a short one;
//  2. by address: a label whose address lies inside an aligned stretch
//     pairs with the old label at the corresponding old address (targets
//     in data, and code targets whose callers all changed);
//  3. by sequence: unpaired new labels between two paired neighbours take,
//     in order, the unpaired old labels between the neighbours' partners
//     (a changed function keeps the indexes of its branch targets).
//
// A paired label takes its partner's index. The rest get fresh indexes
// after the old ones, in address order, so that their deltas in the address
// table stay small.
#include "label_alignment.h"

#include <algorithm>
#include <unordered_map>

namespace vxdelta {

namespace {

// Literal bytes are tokens 0 to 255.
constexpr uint16_t kTokenRel32 = 0x100;
constexpr uint16_t kTokenAbs32 = 0x101;
// The bytes of a reference after its first.
constexpr uint16_t kTokenPad = 0x102;
// Origins and relocation-table markers: never part of an aligned stretch,
// so that the addresses inside one stretch advance alike on both sides.
constexpr uint16_t kTokenBarrier = 0x103;
// ARM references: this bit plus the low bits of the packed opcode.
constexpr uint16_t kTokenArm = 0x8000;

// Windows of this many tokens anchor stretches.
constexpr size_t kWindow = 12;
// About one window in eight is sampled (by its hash, so that both sides
// sample the same content).
constexpr int kSampleShift = 61;
// A mismatch inside a stretch is passed over when this many of the next
// kLookahead tokens agree (a changed constant does not end a stretch).
constexpr size_t kLookahead = 16;
constexpr size_t kLookaheadAgreeing = 12;
// Gaps up to this many tokens between two runs of one alignment are
// aligned too.
constexpr uint32_t kLongestGap = 4096;

struct Segment {
    uint32_t position;  // first token
    uint32_t rva;       // its address
};

struct Reference {
    uint32_t position;
    const Label *label;
};

struct TokenizedProgram {
    std::vector<uint16_t> tokens;
    std::vector<Reference> references;  // ascending position
    std::vector<Segment> segments;      // ascending position

    uint32_t rvaAt(uint32_t position) const {
        auto it = std::upper_bound(
            segments.begin(), segments.end(), position,
            [](uint32_t p, const Segment &segment) { return p < segment.position; });
        const Segment &segment = *(it - 1);  // segments[0] starts at 0
        return segment.rva + (position - segment.position);
    }
};

size_t ArmOperandSize(uint16_t opcode) {
    const unsigned form = opcode >> 12;
    return form == 1 || form == 2 ? 2 : 4;
}

void AddReference(TokenizedProgram *out, uint16_t token, size_t size, const Label *label) {
    out->references.push_back({static_cast<uint32_t>(out->tokens.size()), label});
    out->tokens.push_back(token);
    out->tokens.insert(out->tokens.end(), size - 1, kTokenPad);
}

void AddBarrier(TokenizedProgram *out, uint32_t rva) {
    out->tokens.push_back(kTokenBarrier);
    out->segments.push_back({static_cast<uint32_t>(out->tokens.size()), rva});
}

// The number of tokens and references Tokenize makes of program.
void CountTokens(const AsmProgram &program, size_t *tokens, size_t *references) {
    *tokens = 0;
    *references = 0;
    for (const Instruction *insn : program.instructions()) {
        switch (insn->kind) {
            case INSN_BYTE:
                *tokens += 1;
                break;
            case INSN_BYTES:
                *tokens += insn->length;
                break;
            case INSN_REL32:
            case INSN_ABS32:
                *tokens += 4;
                ++*references;
                break;
            case INSN_REL32_ARM:
                *tokens += ArmOperandSize(insn->armOpcode);
                ++*references;
                break;
            default:
                *tokens += 1;  // a barrier
                break;
        }
    }
}

TokenizedProgram Tokenize(const AsmProgram &program) {
    TokenizedProgram out;
    size_t tokens = 0;
    size_t references = 0;
    CountTokens(program, &tokens, &references);
    out.tokens.reserve(tokens);
    out.references.reserve(references);
    out.segments.push_back({0, 0});
    uint32_t rva = 0;
    for (const Instruction *insn : program.instructions()) {
        const size_t before = out.tokens.size();
        switch (insn->kind) {
            case INSN_ORIGIN:
                rva = insn->rva;
                AddBarrier(&out, rva);
                continue;
            case INSN_BYTE:
                out.tokens.push_back(insn->byte);
                break;
            case INSN_BYTES:
                out.tokens.insert(out.tokens.end(), insn->bytes, insn->bytes + insn->length);
                break;
            case INSN_REL32:
                AddReference(&out, kTokenRel32, 4, insn->label);
                break;
            case INSN_ABS32:
                AddReference(&out, kTokenAbs32, 4, insn->label);
                break;
            case INSN_REL32_ARM:
                AddReference(&out, static_cast<uint16_t>(kTokenArm | (insn->armOpcode & 0x7FFF)),
                             ArmOperandSize(insn->armOpcode), insn->label);
                break;
            case INSN_PE_RELOCS:
            case INSN_ELF_RELOCS:
            case INSN_ELF_ARM_RELOCS:
                AddBarrier(&out, rva);
                continue;
        }
        rva += static_cast<uint32_t>(out.tokens.size() - before);
    }
    return out;
}

// Calls visit(position, hash) for every window of kWindow tokens without a
// barrier whose hash is sampled.
template <typename Visit>
void ForEachSampledWindow(const std::vector<uint16_t> &tokens, Visit visit) {
    constexpr uint64_t kBase = 0x100000001B3ULL;
    uint64_t power = 1;  // kBase^kWindow
    for (size_t i = 0; i < kWindow; ++i) {
        power *= kBase;
    }
    uint64_t hash = 0;
    size_t sinceBarrier = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        hash = hash * kBase + tokens[i];
        if (i >= kWindow) {
            hash -= power * tokens[i - kWindow];
        }
        sinceBarrier = tokens[i] == kTokenBarrier ? 0 : sinceBarrier + 1;
        const uint64_t mixed = hash * 0x9E3779B97F4A7C15ULL;
        if (sinceBarrier >= kWindow && (mixed >> kSampleShift) == 0) {
            visit(static_cast<uint32_t>(i + 1 - kWindow), hash);
        }
    }
}

// Sampled windows of the old program whose content occurs once among them.
class AnchorIndex {
public:
    explicit AnchorIndex(const std::vector<uint16_t> &tokens) {
        // Counted first: growing the array by doubling would hold the old
        // and the new array at once, the largest allocation of the alignment.
        size_t count = 0;
        ForEachSampledWindow(tokens, [&count](uint32_t, uint64_t) { ++count; });
        m_Entries.reserve(count);
        ForEachSampledWindow(tokens, [this](uint32_t position, uint64_t hash) {
            m_Entries.emplace_back(hash, position);
        });
        std::sort(m_Entries.begin(), m_Entries.end());
        size_t kept = 0;
        for (size_t i = 0; i < m_Entries.size();) {
            size_t j = i + 1;
            while (j < m_Entries.size() && m_Entries[j].first == m_Entries[i].first) {
                ++j;
            }
            if (j == i + 1) {
                m_Entries[kept++] = m_Entries[i];
            }
            i = j;
        }
        m_Entries.resize(kept);
    }

    // The old position of the window with this hash, or -1.
    int64_t find(uint64_t hash) const {
        auto it =
            std::lower_bound(m_Entries.begin(), m_Entries.end(), std::make_pair(hash, uint32_t{0}));
        return it != m_Entries.end() && it->first == hash ? static_cast<int64_t>(it->second) : -1;
    }

private:
    std::vector<std::pair<uint64_t, uint32_t>> m_Entries;
};

struct Run {
    uint32_t newStart;
    uint32_t oldStart;
    uint32_t length;
};

class StretchFinder {
public:
    StretchFinder(const std::vector<uint16_t> &oldTokens, const std::vector<uint16_t> &newTokens)
        : m_Old(oldTokens), m_New(newTokens) {}

    std::vector<Run> find() {
        const AnchorIndex index(m_Old);
        std::vector<Run> runs;
        uint32_t covered = 0;
        ForEachSampledWindow(m_New, [&](uint32_t position, uint64_t hash) {
            if (position < covered) {
                return;
            }
            const int64_t found = index.find(hash);
            if (found < 0 ||
                !std::equal(m_New.begin() + position, m_New.begin() + position + kWindow,
                            m_Old.begin() + found)) {
                return;
            }
            const auto oldPosition = static_cast<uint32_t>(found);
            const uint32_t back = backward(position, oldPosition, covered);
            const uint32_t ahead = forward(position, oldPosition);
            runs.push_back({position - back, oldPosition - back, back + ahead});
            covered = position + ahead;
        });
        return withGaps(runs);
    }

private:
    // Adds the gaps of equal length between two runs of the same alignment
    // (short code between unchanged neighbours, whose anchors were too few to
    // be found) as runs of their own.
    std::vector<Run> withGaps(const std::vector<Run> &runs) const {
        std::vector<Run> all;
        all.reserve(runs.size() * 2);
        for (size_t i = 0; i < runs.size(); ++i) {
            all.push_back(runs[i]);
            if (i + 1 == runs.size()) {
                break;
            }
            const uint32_t newEnd = runs[i].newStart + runs[i].length;
            const uint32_t oldEnd = runs[i].oldStart + runs[i].length;
            const Run &next = runs[i + 1];
            if (next.oldStart <= oldEnd || next.newStart - newEnd != next.oldStart - oldEnd ||
                next.newStart - newEnd > kLongestGap || hasBarrier(newEnd, oldEnd, next.newStart)) {
                continue;
            }
            all.push_back({newEnd, oldEnd, next.newStart - newEnd});
        }
        return all;
    }

    bool hasBarrier(uint32_t n, uint32_t o, uint32_t newEnd) const {
        for (; n < newEnd; ++n, ++o) {
            if (m_New[n] == kTokenBarrier || m_Old[o] == kTokenBarrier) {
                return true;
            }
        }
        return false;
    }

    bool agree(size_t n, size_t o) const {
        return m_New[n] == m_Old[o] && m_New[n] != kTokenBarrier;
    }

    // Exact agreement before the anchor, not reaching into covered tokens.
    uint32_t backward(uint32_t n, uint32_t o, uint32_t covered) const {
        uint32_t length = 0;
        while (n - length > covered && o - length > 0 && agree(n - length - 1, o - length - 1)) {
            ++length;
        }
        return length;
    }

    bool agreesAhead(size_t n, size_t o) const {
        size_t agreeing = 0;
        for (size_t i = 1; i <= kLookahead && n + i < m_New.size() && o + i < m_Old.size(); ++i) {
            if (m_New[n + i] == kTokenBarrier || m_Old[o + i] == kTokenBarrier) {
                break;
            }
            agreeing += m_New[n + i] == m_Old[o + i] ? 1 : 0;
        }
        return agreeing >= kLookaheadAgreeing;
    }

    // Agreement from the anchor on, across isolated mismatches; ends on an
    // agreeing token.
    uint32_t forward(uint32_t n, uint32_t o) const {
        size_t length = 0;
        size_t agreed = 0;
        while (n + length < m_New.size() && o + length < m_Old.size()) {
            const size_t a = n + length;
            const size_t b = o + length;
            if (agree(a, b)) {
                agreed = ++length;
            } else if (m_New[a] != kTokenBarrier && m_Old[b] != kTokenBarrier &&
                       agreesAhead(a, b)) {
                ++length;
            } else {
                break;
            }
        }
        return static_cast<uint32_t>(agreed);
    }

    const std::vector<uint16_t> &m_Old;
    const std::vector<uint16_t> &m_New;
};

// One label map's side of the pairing.
class MapPairing {
public:
    MapPairing(const AsmProgram::LabelMap &oldMap, const AsmProgram::LabelMap &newMap)
        : m_OldMap(oldMap) {
        int32_t maxIndex = -1;
        for (const auto &entry : oldMap) {
            maxIndex = std::max(maxIndex, entry.second->index);
        }
        m_OldOrdinalOfIndex.assign(static_cast<size_t>(maxIndex) + 1, -1);
        for (const auto &entry : oldMap) {
            if (entry.second->index >= 0) {
                m_OldOrdinalOfIndex[static_cast<size_t>(entry.second->index)] =
                    static_cast<int32_t>(m_OldLabels.size());
            }
            m_OldLabels.push_back(entry.second);
        }
        m_OldTaken.assign(m_OldLabels.size(), false);
        for (const auto &entry : newMap) {
            m_NewOrdinal.emplace(entry.second, static_cast<uint32_t>(m_NewLabels.size()));
            m_NewLabels.push_back(entry.second);
        }
        m_Partner.assign(m_NewLabels.size(), -1);
    }

    void vote(const Label *newLabel, const Label *oldLabel, uint32_t weight) {
        const auto n = m_NewOrdinal.find(newLabel);
        const int32_t o = oldOrdinal(oldLabel);
        if (n != m_NewOrdinal.end() && o >= 0) {
            m_Votes.push_back({(uint64_t{n->second} << 32) | static_cast<uint32_t>(o), weight});
        }
    }

    size_t pairByReference();
    size_t pairByAddress(const std::vector<Run> &intervals);
    size_t pairBySequence();
    std::vector<int32_t> finish(size_t *fresh);

private:
    int32_t oldOrdinal(const Label *oldLabel) const {
        if (oldLabel == nullptr || oldLabel->index < 0 ||
            static_cast<size_t>(oldLabel->index) >= m_OldOrdinalOfIndex.size()) {
            return -1;
        }
        const int32_t o = m_OldOrdinalOfIndex[static_cast<size_t>(oldLabel->index)];
        return o >= 0 && m_OldLabels[static_cast<size_t>(o)] == oldLabel ? o : -1;
    }

    bool pair(size_t n, int32_t o) {
        if (o < 0 || m_Partner[n] >= 0 || m_OldTaken[static_cast<size_t>(o)]) {
            return false;
        }
        m_Partner[n] = o;
        m_OldTaken[static_cast<size_t>(o)] = true;
        return true;
    }

    size_t pairGap(size_t firstNew, size_t endNew, int32_t oldBefore, int32_t oldAfter);

    const AsmProgram::LabelMap &m_OldMap;
    std::vector<const Label *> m_OldLabels;  // ascending rva
    std::vector<int32_t> m_OldOrdinalOfIndex;
    std::vector<bool> m_OldTaken;
    std::vector<Label *> m_NewLabels;  // ascending rva
    std::unordered_map<const Label *, uint32_t> m_NewOrdinal;
    std::vector<int32_t> m_Partner;  // old ordinal per new ordinal, or -1
    struct Vote {
        uint64_t pair;  // new ordinal << 32 | old ordinal
        uint32_t weight;
    };
    std::vector<Vote> m_Votes;
};

size_t MapPairing::pairByReference() {
    struct Candidate {
        uint64_t weight;
        uint32_t newOrdinal;
        uint32_t oldOrdinal;
    };
    std::sort(m_Votes.begin(), m_Votes.end(),
              [](const Vote &a, const Vote &b) { return a.pair < b.pair; });
    std::vector<Candidate> candidates;
    for (size_t i = 0; i < m_Votes.size();) {
        uint64_t weight = 0;
        size_t j = i;
        for (; j < m_Votes.size() && m_Votes[j].pair == m_Votes[i].pair; ++j) {
            weight += m_Votes[j].weight;
        }
        candidates.push_back({weight, static_cast<uint32_t>(m_Votes[i].pair >> 32),
                              static_cast<uint32_t>(m_Votes[i].pair)});
        i = j;
    }
    m_Votes = std::vector<Vote>();
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate &a, const Candidate &b) { return a.weight > b.weight; });
    size_t paired = 0;
    for (const Candidate &c : candidates) {
        paired += pair(c.newOrdinal, static_cast<int32_t>(c.oldOrdinal)) ? 1 : 0;
    }
    return paired;
}

// intervals: rva stretches {new rva, old rva, length}, ascending new rva.
size_t MapPairing::pairByAddress(const std::vector<Run> &intervals) {
    size_t paired = 0;
    for (size_t n = 0; n < m_NewLabels.size(); ++n) {
        if (m_Partner[n] >= 0) {
            continue;
        }
        const uint32_t rva = m_NewLabels[n]->rva;
        auto it = std::upper_bound(intervals.begin(), intervals.end(), rva,
                                   [](uint32_t r, const Run &run) { return r < run.newStart; });
        if (it == intervals.begin()) {
            continue;
        }
        --it;
        if (rva - it->newStart >= it->length) {
            continue;
        }
        const auto found = m_OldMap.find(it->oldStart + (rva - it->newStart));
        if (found != m_OldMap.end()) {
            paired += pair(n, oldOrdinal(found->second)) ? 1 : 0;
        }
    }
    return paired;
}

// Pairs new ordinals [firstNew, endNew) in order with the free old ordinals
// strictly between oldBefore and oldAfter.
size_t MapPairing::pairGap(size_t firstNew, size_t endNew, int32_t oldBefore, int32_t oldAfter) {
    size_t paired = 0;
    int32_t o = oldBefore + 1;
    for (size_t n = firstNew; n < endNew && o < oldAfter; ++o) {
        if (!m_OldTaken[static_cast<size_t>(o)]) {
            paired += pair(n++, o) ? 1 : 0;
        }
    }
    return paired;
}

size_t MapPairing::pairBySequence() {
    size_t paired = 0;
    int32_t oldBefore = -1;
    size_t n = 0;
    while (n < m_NewLabels.size()) {
        if (m_Partner[n] >= 0) {
            oldBefore = m_Partner[n++];
            continue;
        }
        size_t end = n;
        while (end < m_NewLabels.size() && m_Partner[end] < 0) {
            ++end;
        }
        const int32_t oldAfter =
            end < m_NewLabels.size() ? m_Partner[end] : static_cast<int32_t>(m_OldLabels.size());
        if (oldAfter > oldBefore + 1) {
            paired += pairGap(n, end, oldBefore, oldAfter);
        }
        n = end;
    }
    return paired;
}

std::vector<int32_t> MapPairing::finish(size_t *fresh) {
    auto next = static_cast<int32_t>(m_OldOrdinalOfIndex.size());
    std::vector<int32_t> indexes(m_NewLabels.size());
    for (size_t n = 0; n < m_NewLabels.size(); ++n) {
        if (m_Partner[n] >= 0) {
            indexes[n] = m_OldLabels[static_cast<size_t>(m_Partner[n])]->index;
        } else {
            indexes[n] = next++;
            ++*fresh;
        }
    }
    return indexes;
}

void CastVotes(const TokenizedProgram &oldSide, const TokenizedProgram &newSide, const Run &run,
               MapPairing *abs32, MapPairing *rel32) {
    const auto byPosition = [](const Reference &r, uint32_t p) { return r.position < p; };
    auto n = std::lower_bound(newSide.references.begin(), newSide.references.end(), run.newStart,
                              byPosition);
    auto o = std::lower_bound(oldSide.references.begin(), oldSide.references.end(), run.oldStart,
                              byPosition);
    for (; n != newSide.references.end() && n->position < run.newStart + run.length; ++n) {
        const uint32_t oldPosition = n->position - run.newStart + run.oldStart;
        while (o != oldSide.references.end() && o->position < oldPosition) {
            ++o;
        }
        if (o == oldSide.references.end() || o->position != oldPosition ||
            oldSide.tokens[oldPosition] != newSide.tokens[n->position]) {
            continue;
        }
        MapPairing *map = newSide.tokens[n->position] == kTokenAbs32 ? abs32 : rel32;
        map->vote(n->label, o->label, run.length);
    }
}

// The runs as address stretches (new rva, old rva, length), ascending new
// rva. A run lies within one segment on each side (barriers end runs).
std::vector<Run> AddressIntervals(const TokenizedProgram &oldSide, const TokenizedProgram &newSide,
                                  const std::vector<Run> &runs) {
    std::vector<Run> intervals;
    intervals.reserve(runs.size());
    for (const Run &run : runs) {
        intervals.push_back({newSide.rvaAt(run.newStart), oldSide.rvaAt(run.oldStart), run.length});
    }
    std::sort(intervals.begin(), intervals.end(),
              [](const Run &a, const Run &b) { return a.newStart < b.newStart; });
    return intervals;
}

}  // namespace

LabelIndexes AlignLabels(const AsmProgram &oldProgram, const AsmProgram &newProgram,
                         AlignmentStats *stats) {
    AlignmentStats local;
    AlignmentStats &s = stats != nullptr ? *stats : local;
    s = AlignmentStats();
    MapPairing abs32(oldProgram.abs32Labels(), newProgram.abs32Labels());
    MapPairing rel32(oldProgram.rel32Labels(), newProgram.rel32Labels());
    std::vector<Run> intervals;
    {
        const TokenizedProgram oldSide = Tokenize(oldProgram);
        const TokenizedProgram newSide = Tokenize(newProgram);
        const std::vector<Run> runs = StretchFinder(oldSide.tokens, newSide.tokens).find();
        s.runs = runs.size();
        for (const Run &run : runs) {
            CastVotes(oldSide, newSide, run, &abs32, &rel32);
        }
        intervals = AddressIntervals(oldSide, newSide, runs);
    }
    s.byReference = abs32.pairByReference() + rel32.pairByReference();
    s.byAddress = abs32.pairByAddress(intervals) + rel32.pairByAddress(intervals);
    s.bySequence = abs32.pairBySequence() + rel32.pairBySequence();
    LabelIndexes result;
    result.abs32 = abs32.finish(&s.fresh);
    result.rel32 = rel32.finish(&s.fresh);
    return result;
}

bool ApplyLabelIndexes(const LabelIndexes &assignment, AsmProgram *program) {
    if (assignment.abs32.size() != program->abs32Labels().size() ||
        assignment.rel32.size() != program->rel32Labels().size()) {
        return false;
    }
    size_t i = 0;
    for (const auto &entry : program->abs32Labels()) {
        entry.second->index = assignment.abs32[i++];
    }
    i = 0;
    for (const auto &entry : program->rel32Labels()) {
        entry.second->index = assignment.rel32[i++];
    }
    return true;
}

}  // namespace vxdelta
