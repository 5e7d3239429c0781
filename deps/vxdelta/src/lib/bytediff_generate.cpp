// The byte-diff generator: a suffix array of the old data (libdivsufsort) and
// a bsdiff-style matching scan, emitting control triples, correction bytes
// and inserted bytes.
#include <divsufsort.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "bytediff.h"
#include "bytediff_format.h"
#include "checksum.h"
#include "engine_log.h"
#include "lzma2_section.h"

namespace vxdelta {

namespace {

constexpr int64_t kMaxDiffInput = std::numeric_limits<int32_t>::max();
// A match this much longer than the agreement at the current alignment ends
// the search for the next block.
constexpr int64_t kAcceptMargin = 8;
// Inside a match of at least this length that is not accepted, the scan
// moves on by the match length minus this instead of by one byte: stepping
// through long runs one position at a time makes plain bsdiff quadratic.
constexpr int64_t kLongMatch = 64;
// Where the current alignment already reproduces this many bytes, its match
// is taken without a suffix-array search: a search there almost always finds
// the same alignment, and searches (cache misses) are most of the time spent.
constexpr int64_t kTrustedAlignment = 8;
// Differing bytes after which an alignment that agrees again is kept
// without a search (see resumesAfterCorrection).
constexpr int64_t kShortCorrection = 4;

// Length of the common prefix of a[0, alen) and b[0, blen), eight bytes per
// step while both have them.
int64_t CommonPrefix(const uint8_t *a, int64_t alen, const uint8_t *b, int64_t blen) {
    const int64_t limit = std::min(alen, blen);
    int64_t i = 0;
    while (i + 8 <= limit) {
        uint64_t x = 0;
        uint64_t y = 0;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) {
            return i + (__builtin_ctzll(x ^ y) >> 3);
        }
        i += 8;
    }
    while (i < limit && a[i] == b[i]) {
        ++i;
    }
    return i;
}

struct Match {
    int64_t pos = 0;
    int64_t length = 0;
};

struct Triple {
    int64_t x;
    int64_t y;
    int64_t z;
};

// For every two-byte prefix, the first suffix-array rank whose suffix starts
// with it or sorts after it; narrows each search to one bucket, which saves
// the most cache-missing steps of the binary search.
constexpr size_t kBuckets = 65536;

void BuildBuckets(const uint8_t *old, int64_t oldSize, std::vector<int32_t> *start) {
    std::vector<int32_t> count(kBuckets + 1, 0);
    for (int64_t i = 0; i + 1 < oldSize; ++i) {
        ++count[(static_cast<size_t>(old[i]) << 8) | old[i + 1]];
    }
    start->assign(kBuckets + 1, 0);
    int32_t rank = 0;
    // The one-byte suffix (the last byte) sorts before every longer suffix
    // with the same first byte.
    const int last = oldSize > 0 ? old[oldSize - 1] : -1;
    for (size_t key = 0; key <= kBuckets; ++key) {
        if ((key & 0xFF) == 0 && static_cast<int>(key >> 8) == last) {
            ++rank;
        }
        (*start)[key] = rank;
        rank += count[key];
    }
}

class DiffScanner {
public:
    DiffScanner(const uint8_t *old, int64_t oldSize, const uint8_t *nw, int64_t newSize,
                const saidx_t *sa)
        : m_Old(old), m_OldSize(oldSize), m_New(nw), m_NewSize(newSize), m_Sa(sa) {
        BuildBuckets(old, oldSize, &m_Buckets);
    }

    bool run(WriteStream *control, WriteStream *diff, WriteStream *extra);

private:
    int64_t prefixAt(int64_t rank, const uint8_t *key, int64_t keyLen, int64_t skip) const {
        const int64_t start = m_Sa[rank] + skip;
        return skip + CommonPrefix(m_Old + start, m_OldSize - start, key + skip, keyLen - skip);
    }
    Match search(int64_t scan) const;
    Match matchAt(int64_t scan, int64_t offset) const;
    bool agrees(int64_t newPos, int64_t offset) const {
        const int64_t oldPos = newPos + offset;
        return oldPos >= 0 && oldPos < m_OldSize && m_Old[oldPos] == m_New[newPos];
    }
    bool resumesAfterCorrection(int64_t scan, int64_t oldPos, int64_t agreed) const;
    int64_t forwardExtension(int64_t scan) const;
    int64_t backwardExtension(int64_t scan, const Match &match) const;
    bool emit(int64_t scan, const Match &match, WriteStream *control, WriteStream *diff,
              WriteStream *extra);

    const uint8_t *m_Old;
    int64_t m_OldSize;
    const uint8_t *m_New;
    int64_t m_NewSize;
    const saidx_t *m_Sa;
    std::vector<int32_t> m_Buckets;
    int64_t m_LastScan = 0;
    int64_t m_LastPos = 0;
};

// Binary search over the suffix array for the longest prefix of new[scan..]
// that occurs in old. The common prefix with both bounds is carried along,
// so each probe compares only bytes beyond what both bounds already share.
Match DiffScanner::search(int64_t scan) const {
    Match best;
    if (m_OldSize == 0) {
        return best;
    }
    const uint8_t *key = m_New + scan;
    const int64_t keyLen = m_NewSize - scan;
    int64_t lo = 0;
    int64_t hi = m_OldSize - 1;
    if (keyLen >= 2) {
        const size_t bucket = (static_cast<size_t>(key[0]) << 8) | key[1];
        const int64_t first = m_Buckets[bucket];
        const int64_t end = m_Buckets[bucket + 1];
        // An empty bucket still bounds the search by its neighbours.
        lo = first < end ? first : std::max<int64_t>(first - 1, 0);
        hi = first < end ? end - 1 : std::min<int64_t>(first, m_OldSize - 1);
    }
    int64_t lcpLo = prefixAt(lo, key, keyLen, 0);
    int64_t lcpHi = prefixAt(hi, key, keyLen, 0);
    while (hi - lo > 1) {
        const int64_t mid = lo + (hi - lo) / 2;
        const int64_t l = prefixAt(mid, key, keyLen, std::min(lcpLo, lcpHi));
        const int64_t at = m_Sa[mid] + l;
        const bool suffixBelowKey = l < keyLen && (at == m_OldSize || m_Old[at] < key[l]);
        if (suffixBelowKey) {
            lo = mid;
            lcpLo = l;
        } else {
            hi = mid;
            lcpHi = l;
        }
    }
    if (lcpLo >= lcpHi) {
        best.pos = m_Sa[lo];
        best.length = lcpLo;
    } else {
        best.pos = m_Sa[hi];
        best.length = lcpHi;
    }
    return best;
}

Match DiffScanner::matchAt(int64_t scan, int64_t offset) const {
    const int64_t oldPos = scan + offset;
    if (oldPos >= 0 && oldPos < m_OldSize) {
        const int64_t length =
            CommonPrefix(m_Old + oldPos, m_OldSize - oldPos, m_New + scan, m_NewSize - scan);
        if (length >= kTrustedAlignment) {
            return Match{oldPos, length};
        }
        if (resumesAfterCorrection(scan, oldPos, length)) {
            return Match{oldPos, length};
        }
    }
    return search(scan);
}

// True if the alignment, which reproduces only `agreed` bytes at scan, goes
// on to reproduce kTrustedAlignment bytes after at most kShortCorrection
// differing bytes: a changed displacement or constant inside code that
// still lines up. A search there almost always finds nothing better, so the
// alignment's own agreement is taken and the differing bytes become
// correction bytes of the current block.
bool DiffScanner::resumesAfterCorrection(int64_t scan, int64_t oldPos, int64_t agreed) const {
    for (int64_t skip = agreed + 1; skip <= agreed + kShortCorrection; ++skip) {
        if (oldPos + skip >= m_OldSize || scan + skip >= m_NewSize) {
            return false;
        }
        if (m_Old[oldPos + skip] == m_New[scan + skip]) {
            return CommonPrefix(m_Old + oldPos + skip, m_OldSize - oldPos - skip,
                                m_New + scan + skip, m_NewSize - scan - skip) >= kTrustedAlignment;
        }
    }
    return false;
}

// How far the previous match extends forwards: the prefix of the gap in
// which matching bytes outnumber mismatches by the largest margin.
int64_t DiffScanner::forwardExtension(int64_t scan) const {
    int64_t score = 0;
    int64_t bestScore = 0;
    int64_t length = 0;
    for (int64_t i = 0; m_LastScan + i < scan && m_LastPos + i < m_OldSize;) {
        if (m_Old[m_LastPos + i] == m_New[m_LastScan + i]) {
            ++score;
        }
        ++i;
        if (score * 2 - i > bestScore * 2 - length) {
            bestScore = score;
            length = i;
        }
    }
    return length;
}

int64_t DiffScanner::backwardExtension(int64_t scan, const Match &match) const {
    if (scan >= m_NewSize) {
        return 0;
    }
    int64_t score = 0;
    int64_t bestScore = 0;
    int64_t length = 0;
    for (int64_t i = 1; scan >= m_LastScan + i && match.pos >= i; ++i) {
        if (m_Old[match.pos - i] == m_New[scan - i]) {
            ++score;
        }
        if (score * 2 - i > bestScore * 2 - length) {
            bestScore = score;
            length = i;
        }
    }
    return length;
}

bool WriteTriple(WriteStream *control, const Triple &t) {
    return control->writeSignedVarint(static_cast<int32_t>(t.x)) &&
           control->writeSignedVarint(static_cast<int32_t>(t.y)) &&
           control->writeSignedVarint(static_cast<int32_t>(t.z));
}

bool DiffScanner::emit(int64_t scan, const Match &match, WriteStream *control, WriteStream *diff,
                       WriteStream *extra) {
    int64_t lenf = forwardExtension(scan);
    int64_t lenb = backwardExtension(scan, match);
    if (m_LastScan + lenf > scan - lenb) {
        // The two extensions overlap: split the overlap where the forward
        // alignment stops agreeing better than the backward one.
        const int64_t overlap = (m_LastScan + lenf) - (scan - lenb);
        int64_t score = 0;
        int64_t bestScore = 0;
        int64_t split = 0;
        for (int64_t i = 0; i < overlap; ++i) {
            if (m_New[m_LastScan + lenf - overlap + i] == m_Old[m_LastPos + lenf - overlap + i]) {
                ++score;
            }
            if (m_New[scan - lenb + i] == m_Old[match.pos - lenb + i]) {
                --score;
            }
            if (score > bestScore) {
                bestScore = score;
                split = i + 1;
            }
        }
        lenf += split - overlap;
        lenb -= split;
    }
    uint8_t *d = diff->extend(static_cast<size_t>(lenf));
    if (d == nullptr) {
        return false;
    }
    const uint8_t *n = m_New + m_LastScan;
    const uint8_t *o = m_Old + m_LastPos;
    for (int64_t i = 0; i < lenf; ++i) {
        d[i] = static_cast<uint8_t>(n[i] - o[i]);
    }
    const int64_t extraLength = (scan - lenb) - (m_LastScan + lenf);
    if (!extra->write(m_New + m_LastScan + lenf, static_cast<size_t>(extraLength)) ||
        !WriteTriple(control, {lenf, extraLength, (match.pos - lenb) - (m_LastPos + lenf)})) {
        return false;
    }
    m_LastScan = scan - lenb;
    m_LastPos = match.pos - lenb;
    return true;
}

bool DiffScanner::run(WriteStream *control, WriteStream *diff, WriteStream *extra) {
    int64_t scan = 0;
    Match match;
    int64_t lastOffset = 0;
    while (scan < m_NewSize) {
        int64_t oldScore = 0;
        scan += match.length;
        int64_t counted = scan;
        for (; scan < m_NewSize; ++scan) {
            match = matchAt(scan, lastOffset);
            for (; counted < scan + match.length; ++counted) {
                oldScore += agrees(counted, lastOffset) ? 1 : 0;
            }
            if ((match.length == oldScore && match.length != 0) ||
                match.length > oldScore + kAcceptMargin) {
                break;
            }
            oldScore -= agrees(scan, lastOffset) ? 1 : 0;
            if (match.length >= kLongMatch) {
                // The skipped positions lie inside the counted window, so
                // the score stays the agreement over [scan, counted).
                const int64_t target = scan + match.length - kLongMatch / 2;
                while (scan + 1 < target) {
                    ++scan;
                    oldScore -= agrees(scan, lastOffset) ? 1 : 0;
                }
            }
        }
        if (match.length != oldScore || scan == m_NewSize) {
            if (!emit(scan, match, control, diff, extra)) {
                return false;
            }
            lastOffset = match.pos - scan;
        }
    }
    return true;
}

// The search for each stream: the correction stream is mostly zeros with
// sparse differences; control triples and inserted bytes are small and
// take preset 9's search.
constexpr Lzma2Search kStreamSearch[3] = {Lzma2Search::kShallow, Lzma2Search::kSparse,
                                          Lzma2Search::kShallow};

bool WriteBody(ByteDiffMethod method, const WriteStream streams[3], WriteStream *out) {
    if (method == kByteDiffSectionPerStream) {
        for (int i = 0; i < 3; ++i) {
            if (!EncodeLzma2Section(streams[i].data(), streams[i].length(), out,
                                    kStreamSearch[i])) {
                return false;
            }
        }
        return true;
    }
    WriteStream lengths;
    for (int i = 0; i < 3; ++i) {
        if (!lengths.writeSizeVarint(streams[i].length())) {
            return false;
        }
    }
    if (method == kByteDiffSingleSection) {
        // One part per stream, the lengths with the control triples.
        const ByteSpan control[] = {{lengths.data(), lengths.length()},
                                    {streams[0].data(), streams[0].length()}};
        const ByteSpan diff{streams[1].data(), streams[1].length()};
        const ByteSpan extra{streams[2].data(), streams[2].length()};
        const Lzma2Part parts[] = {{control, 2, kStreamSearch[0]},
                                   {&diff, 1, kStreamSearch[1]},
                                   {&extra, 1, kStreamSearch[2]}};
        return EncodeLzma2Parts(parts, 3, out);
    }
    return out->write(lengths.data(), lengths.length()) &&
           out->write(streams[0].data(), streams[0].length()) &&
           out->write(streams[1].data(), streams[1].length()) &&
           out->write(streams[2].data(), streams[2].length());
}

bool ScanStreams(const ReadStream &old, const ReadStream &nw, WriteStream streams[3]) {
    const auto oldSize = static_cast<int64_t>(old.remaining());
    std::unique_ptr<saidx_t[]> sa(new (std::nothrow) saidx_t[oldSize > 0 ? oldSize : 1]);
    if (sa == nullptr) {
        return false;
    }
    if (oldSize > 0 && divsufsort(old.position(), sa.get(), static_cast<saidx_t>(oldSize)) != 0) {
        return false;
    }
    DiffScanner scanner(old.position(), oldSize, nw.position(),
                        static_cast<int64_t>(nw.remaining()), sa.get());
    return streams[1].reserve(nw.remaining()) && scanner.run(&streams[0], &streams[1], &streams[2]);
}

}  // namespace

bool GenerateByteDiff(ReadStream old, ReadStream newData, WriteStream *out, bool writeHeader,
                      ByteDiffMethod method) {
    if (static_cast<int64_t>(old.remaining()) > kMaxDiffInput) {
        return Fail(" old stream too large");
    }
    if (static_cast<int64_t>(newData.remaining()) > kMaxDiffInput) {
        return Fail(" new stream too large");
    }
    WriteStream streams[3];
    if (!ScanStreams(old, newData, streams)) {
        return false;
    }
    if (writeHeader && (!out->write(kByteDiffMagic, kByteDiffMagicSize) ||
                        !out->writeVarint(FileChecksum(newData.position(), newData.remaining())))) {
        return false;
    }
    return out->writeByte(method) && out->writeSizeVarint(newData.remaining()) &&
           WriteBody(method, streams, out);
}

}  // namespace vxdelta
