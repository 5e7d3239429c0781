#include "disassembler_macho.h"

#include <algorithm>

#include "engine_log.h"
#include "image_bytes.h"
#include "log.h"
#include "x86_rel32.h"

namespace vxdelta {

// Where one segment command layout keeps its fields. Address-sized fields
// are 64-bit in the wide layout and 32-bit in the narrow one.
struct MachoSegmentLayout {
    bool wide;
    uint32_t minimumCommandSize;  // a command must be larger than this
    size_t vmAddressAt, vmSizeAt, fileOffsetAt, fileSizeAt, sectionCountAt;
    size_t sectionTableAt, sectionSize;
    size_t sectionAddressAt, sectionSizeAt, sectionFileOffsetAt, sectionFlagsAt;
};

namespace {

constexpr size_t kMinimumLength = 32;
constexpr uint32_t kMagic32 = 0xFEEDFACE;
constexpr uint32_t kMagic64 = 0xFEEDFACF;
constexpr uint32_t kCpuX86 = 7;
constexpr uint32_t kCpuX86_64 = 0x01000007;
constexpr size_t kHeaderSize32 = 28;
constexpr size_t kHeaderSize64 = 32;
constexpr size_t kLoadCommandHeaderSize = 8;
constexpr uint32_t kSegmentCommand32 = 1;
constexpr uint32_t kSegmentCommand64 = 0x19;

// Instructions-only attribute set, section type 0 (regular).
constexpr uint32_t kCodeSectionMask = 0x800000FF;
constexpr uint32_t kCodeSectionFlags = 0x80000000;

constexpr MachoSegmentLayout kLayout64 = {true, 71, 24, 32, 40, 48, 64, 72, 80, 32, 40, 48, 64};
constexpr MachoSegmentLayout kLayout32 = {false, 55, 24, 28, 32, 36, 48, 56, 68, 32, 36, 40, 56};

uint64_t ReadWord(const MachoSegmentLayout &layout, const uint8_t *p) {
    return layout.wide ? ReadLe64(p) : ReadLe32(p);
}

bool FitsIn32(uint64_t value) {
    return value <= UINT32_MAX;
}

// Executable, preloaded executable, dynamic library, bundle.
bool IsSupportedFileType(uint32_t type) {
    return type == 2 || type == 5 || type == 6 || type == 8;
}

bool IsCodeSection(uint32_t flags) {
    return (flags & kCodeSectionMask) == kCodeSectionFlags;
}

// Membership test over the sorted rel32 locations for rvas visited in
// ascending order; a wrap past 2^32 restarts the search.
class LocationCursor {
public:
    LocationCursor(const PodVector<uint32_t> &locations, uint32_t firstRva)
        : m_Begin(locations.begin()),
          m_End(locations.end()),
          m_Next(std::lower_bound(m_Begin, m_End, firstRva)),
          m_Last(firstRva) {}

    bool holds(uint32_t rva) {
        if (rva < m_Last) {
            m_Next = std::lower_bound(m_Begin, m_End, rva);
        }
        m_Last = rva;
        while (m_Next != m_End && *m_Next < rva) {
            ++m_Next;
        }
        return m_Next != m_End && *m_Next == rva;
    }

private:
    const uint32_t *m_Begin;
    const uint32_t *m_End;
    const uint32_t *m_Next;
    uint32_t m_Last;
};

bool EmitLiteral(const uint8_t *from, const uint8_t *to, AsmProgram *program) {
    for (const uint8_t *p = from; p < to; ++p) {
        if (!program->emitByte(*p)) {
            return false;
        }
    }
    return true;
}

}  // namespace

DisassemblerMacho::DisassemblerMacho(const uint8_t *start, size_t length)
    : Disassembler(start, length) {}

bool DisassemblerMacho::parseHeader() {
    m_Extent = 0;
    m_Segments.clear();
    m_CodeSections.clear();
    if (length() < kMinimumLength) {
        return bad("Too small");
    }
    const uint32_t magic = ReadLe32(start());
    const uint32_t cpu = ReadLe32(start() + 4);
    size_t headerSize = 0;
    if (magic == kMagic64) {
        if (cpu != kCpuX86_64) {
            return bad("unsupported cpu type");
        }
        m_Kind = EXE_MACHO_X64;
        headerSize = kHeaderSize64;
    } else if (magic == kMagic32) {
        if (cpu != kCpuX86) {
            return bad("unsupported cpu type");
        }
        m_Kind = EXE_MACHO_X86;
        headerSize = kHeaderSize32;
    } else {
        return bad("Unknown magic type");
    }
    if (!IsSupportedFileType(ReadLe32(start() + 12))) {
        return bad("Unsupported filetype in header");
    }
    if (!parseLoadCommands(headerSize, ReadLe32(start() + 16)) || !makeAddressesRelative()) {
        return false;
    }
    if (m_CodeSections.empty()) {
        return bad("Resource-only executables are not yet supported");
    }
    // Stable, so that sections at one offset keep their load-command order
    // on every build of the engine.
    std::stable_sort(
        m_CodeSections.begin(), m_CodeSections.end(),
        [](const CodeSection &a, const CodeSection &b) { return a.fileOffset < b.fileOffset; });
    reduceLength(m_Extent);
    return good();
}

bool DisassemblerMacho::parseLoadCommands(size_t headerSize, uint32_t commandCount) {
    size_t position = headerSize;
    for (uint32_t i = 0; i < commandCount; ++i) {
        if (!isRangeInImage(position, kLoadCommandHeaderSize)) {
            return bad("file to small in load commands");
        }
        const uint8_t *command = start() + position;
        const uint32_t commandSize = ReadLe32(command + 4);
        if (!isRangeInImage(position, commandSize)) {
            return bad("file to small in load commands");
        }
        const uint32_t type = ReadLe32(command);
        if (type == kSegmentCommand64) {
            if (!parseSegment64(command, commandSize)) {
                return false;
            }
        } else if (type == kSegmentCommand32) {
            if (!parseSegment32(command, commandSize)) {
                return false;
            }
        } else if (commandSize < kLoadCommandHeaderSize) {
            // Segment steps check their own sizes; any other command smaller
            // than its header would keep the walk in place.
            return bad("bad load command size");
        }
        position += commandSize;
    }
    return true;
}

bool DisassemblerMacho::parseSegment64(const uint8_t *command, uint32_t commandSize) {
    const MachoSegmentLayout &layout = kLayout64;
    if (m_Kind != EXE_MACHO_X64) {
        return bad("LC_SEGMENT_64 not supported");
    }
    if (commandSize <= layout.minimumCommandSize) {
        return bad("bad LC_SEGMENT_64");
    }
    // The zero page and the link-edit segment have no sections and no part
    // in the image.
    if (ReadLe32(command + layout.sectionCountAt) == 0) {
        return true;
    }
    const uint64_t vmSize = ReadLe64(command + layout.vmSizeAt);
    const uint64_t fileOffset = ReadLe64(command + layout.fileOffsetAt);
    const uint64_t fileSize = ReadLe64(command + layout.fileSizeAt);
    if (!FitsIn32(vmSize) || !FitsIn32(fileOffset) || !FitsIn32(fileSize)) {
        return bad("overflow");
    }
    const Segment segment = {ReadLe64(command + layout.vmAddressAt), static_cast<uint32_t>(vmSize),
                             static_cast<uint32_t>(fileOffset), static_cast<uint32_t>(fileSize)};
    return recordSegment(segment) && recordCodeSections(layout, segment, command, commandSize);
}

bool DisassemblerMacho::parseSegment32(const uint8_t *command, uint32_t commandSize) {
    const MachoSegmentLayout &layout = kLayout32;
    if (m_Kind != EXE_MACHO_X86) {
        return bad("LC_SEGMENT not supported");
    }
    if (commandSize <= layout.minimumCommandSize) {
        return bad("bad LC_SEGMENT");
    }
    // Recorded even without sections: in 32-bit files the zero page sets the
    // base and the link-edit segment counts for the extent.
    const Segment segment = {
        ReadLe32(command + layout.vmAddressAt), ReadLe32(command + layout.vmSizeAt),
        ReadLe32(command + layout.fileOffsetAt), ReadLe32(command + layout.fileSizeAt)};
    return recordSegment(segment) && recordCodeSections(layout, segment, command, commandSize);
}

bool DisassemblerMacho::recordSegment(const Segment &segment) {
    // The extent is 32-bit like the fields; a sum that wraps is caught below.
    m_Extent = std::max(m_Extent, segment.fileOffset + segment.fileSize);
    if (!isRangeInImage(segment.fileOffset, segment.fileSize)) {
        return bad("segment too large");
    }
    return m_Segments.push_back(segment) || bad("out of memory");
}

bool DisassemblerMacho::recordCodeSections(const MachoSegmentLayout &layout, const Segment &segment,
                                           const uint8_t *command, uint32_t commandSize) {
    const uint32_t count = ReadLe32(command + layout.sectionCountAt);
    if (layout.sectionTableAt + static_cast<uint64_t>(layout.sectionSize) * count > commandSize) {
        return bad("sections too small");
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *section = command + layout.sectionTableAt + layout.sectionSize * i;
        if (!IsCodeSection(ReadLe32(section + layout.sectionFlagsAt))) {
            continue;
        }
        const uint64_t size = ReadWord(layout, section + layout.sectionSizeAt);
        if (!FitsIn32(size)) {
            return bad("overflow");
        }
        if (!recordCodeSection(segment, ReadWord(layout, section + layout.sectionAddressAt),
                               static_cast<uint32_t>(size),
                               ReadLe32(section + layout.sectionFileOffsetAt))) {
            return false;
        }
    }
    return true;
}

bool DisassemblerMacho::recordCodeSection(const Segment &segment, uint64_t address, uint32_t size,
                                          uint32_t fileOffset) {
    if (address < segment.vmAddress || address - segment.vmAddress > segment.vmSize ||
        size > segment.vmSize - (address - segment.vmAddress)) {
        return bad("section larger than segment");
    }
    // The vm range check says nothing about the file bytes that disassembly
    // reads.
    if (!isRangeInImage(fileOffset, size)) {
        return bad("section outside the image");
    }
    return m_CodeSections.push_back({address, size, fileOffset}) || bad("out of memory");
}

bool DisassemblerMacho::makeAddressesRelative() {
    if (m_Segments.empty()) {
        return true;
    }
    uint64_t base = m_Segments[0].vmAddress;
    for (const Segment &segment : m_Segments) {
        base = std::min(base, segment.vmAddress);
    }
    for (Segment &segment : m_Segments) {
        segment.vmAddress -= base;
        if (!FitsIn32(segment.vmAddress) || !FitsIn32(segment.vmAddress + segment.vmSize)) {
            return bad("overflow");
        }
    }
    for (CodeSection &section : m_CodeSections) {
        section.address -= base;
    }
    return true;
}

uint32_t DisassemblerMacho::fileOffsetToRva(size_t offset) const {
    for (const Segment &segment : m_Segments) {
        if (segment.fileOffset <= offset && offset - segment.fileOffset < segment.fileSize) {
            return static_cast<uint32_t>(offset - segment.fileOffset + segment.vmAddress);
        }
    }
    return 0;
}

bool DisassemblerMacho::rvaToFileOffset(uint32_t rva, size_t *offset) const {
    for (const Segment &segment : m_Segments) {
        if (segment.vmAddress <= rva && rva - segment.vmAddress < segment.vmSize) {
            const uint64_t vmOffset = rva - segment.vmAddress;
            if (vmOffset >= segment.fileSize) {
                return false;
            }
            *offset = static_cast<size_t>(segment.fileOffset + vmOffset);
            return true;
        }
    }
    difflog::LogStream(difflog::LogLevel_WARNING) << "RVAToFileOffset reached invalid point";
    return false;
}

const uint8_t *DisassemblerMacho::rvaToPointer(uint32_t rva) const {
    size_t offset = 0;
    return rvaToFileOffset(rva, &offset) ? fileOffsetToPointer(offset) : nullptr;
}

bool DisassemblerMacho::isInSomeSegment(uint32_t rva) const {
    for (const Segment &segment : m_Segments) {
        if (segment.vmAddress <= rva && rva - segment.vmAddress < segment.vmSize) {
            return true;
        }
    }
    return false;
}

const uint8_t *DisassemblerMacho::sectionStart(const CodeSection &section) const {
    const uint8_t *start_pointer = fileOffsetToPointer(section.fileOffset);
    if (start_pointer == nullptr) {
        difflog::assertionFailed("start_pointer != __null",
                                 VXDELTA_SOURCE_PATH("disassembler_macho.cpp"), __LINE__);
    }
    return start_pointer;
}

bool DisassemblerMacho::findRel32InSection(const CodeSection &section) {
    if (section.size == 0) {
        return true;
    }
    const uint8_t *const begin = sectionStart(section);
    const uint8_t *const end = begin + section.size;
    const uint32_t beginRva = fileOffsetToRva(section.fileOffset);
    // RIP-relative forms mean other addressing in 32-bit code: the shared
    // matcher leaves them out unless the file is 64-bit.
    const bool x64 = m_Kind == EXE_MACHO_X64;
    for (const uint8_t *p = begin; p < end;) {
        X86Rel32Candidate candidate;
        if (FindX86Rel32Candidate(p, static_cast<size_t>(end - p), x64, &candidate)) {
            const uint8_t *operand = p + candidate.operandOffset;
            const uint32_t rva = beginRva + static_cast<uint32_t>(operand - begin);
            if (isInSomeSegment(rva + 4 + ReadLe32(operand))) {
                if (!m_Rel32Locations.push_back(rva)) {
                    return false;
                }
                p = operand + 4;
                continue;
            }
        }
        ++p;
    }
    return true;
}

bool DisassemblerMacho::emitSection(const CodeSection &section, AsmProgram *program) const {
    uint32_t rva = fileOffsetToRva(section.fileOffset);
    if (!program->emitOrigin(rva)) {
        return false;
    }
    if (section.size == 0) {
        return true;
    }
    const uint8_t *const end = sectionStart(section) + section.size;
    LocationCursor cursor(m_Rel32Locations, rva);
    for (const uint8_t *p = sectionStart(section); p < end;) {
        // A location found in another section at the same rvas may lie
        // closer to this section's end than an operand fits.
        if (end - p >= 4 && cursor.holds(rva)) {
            Label *label = program->findOrMakeRel32Label(rva + 4 + ReadLe32(p));
            if (label == nullptr || !program->emitRel32(label)) {
                return false;
            }
            p += 4;
            rva += 4;
        } else {
            if (!program->emitByte(*p)) {
                return false;
            }
            ++p;
            ++rva;
        }
    }
    return true;
}

bool DisassemblerMacho::disassemble(AsmProgram *program) {
    if (!ok()) {
        return false;
    }
    program->setImageBase(0);
    m_Rel32Locations.clear();
    for (const CodeSection &section : m_CodeSections) {
        if (!findRel32InSection(section)) {
            return false;
        }
    }
    std::sort(m_Rel32Locations.begin(), m_Rel32Locations.end());

    // Sections are taken in file-offset order; one that starts inside the
    // previous one stays literal bytes.
    size_t position = 0;
    for (const CodeSection &section : m_CodeSections) {
        if (position >= length()) {
            break;
        }
        if (section.fileOffset < position) {
            continue;
        }
        if (!EmitLiteral(start() + position, start() + section.fileOffset, program) ||
            !emitSection(section, program)) {
            return false;
        }
        position = static_cast<size_t>(section.fileOffset) + section.size;
    }
    if (position < length() && !EmitLiteral(start() + position, start() + length(), program)) {
        return false;
    }
    program->defaultAssignIndexes();
    return true;
}

}  // namespace vxdelta
