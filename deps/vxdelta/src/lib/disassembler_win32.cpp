#include "disassembler_win32.h"

#include <algorithm>
#include <cstring>

#include "image_bytes.h"
#include "log.h"
#include "x86_rel32.h"

namespace vxdelta {

namespace {

constexpr size_t kMinimumSize = 64;
constexpr size_t kPeOffsetField = 60;
constexpr size_t kSignatureToOptionalHeader = 24;
constexpr size_t kSectionCountField = 6;         // from the signature
constexpr size_t kOptionalHeaderSizeField = 20;  // from the signature
constexpr uint16_t kMagic32 = 0x10B;
constexpr uint16_t kMagic64 = 0x20B;
constexpr uint32_t kDataDirectories32 = 96;
constexpr uint32_t kDataDirectories64 = 112;
constexpr size_t kSizeOfImageField = 56;
constexpr size_t kDataDirectorySize = 8;
constexpr size_t kSectionHeaderSize = 40;
constexpr uint32_t kBaseRelocationDirectory = 5;
// The directories whose consistency the header parse checks.
constexpr uint32_t kCheckedDirectories[] = {0, 1, 2, 3, 5, 11, 12, 13, 14};
constexpr size_t kRelocationBlockHeader = 8;
constexpr uint32_t kRelocationType32 = 3;   // HIGHLOW
constexpr uint32_t kRelocationType64 = 10;  // DIR64

const uint8_t kTextName[6] = {'.', 't', 'e', 'x', 't', 0};

}  // namespace

DisassemblerWin32::DisassemblerWin32(const uint8_t *start, size_t length, bool wants64Bit)
    : Disassembler(start, length), m_Wants64Bit(wants64Bit) {}

bool DisassemblerWin32::parseHeader() {
    const uint8_t *image = start();
    if (length() < kMinimumSize) {
        return bad("Too small");
    }
    if (image[0] != 'M' || image[1] != 'Z') {
        return bad("Not MZ");
    }
    const uint32_t pe = ReadLe32(image + kPeOffsetField);
    if (pe >= length() || pe == 0 || length() - pe <= kSignatureToOptionalHeader) {
        return bad("Bad offset to PE header");
    }
    if (pe % 8 != 0) {
        return bad("Misaligned PE header");
    }
    if (std::memcmp(image + pe, "PE\0\0", 4) != 0) {
        return bad("no PE signature");
    }
    m_OptionalHeaderSize = ReadLe16(image + pe + kOptionalHeaderSizeField);
    const uint32_t sectionCount = ReadLe16(image + pe + kSectionCountField);
    const size_t optionalHeader = pe + kSignatureToOptionalHeader;
    if (m_OptionalHeaderSize >= length() - optionalHeader) {
        return bad("optional header past end of file");
    }
    if (!parseOptionalHeader(optionalHeader) ||
        !parseSectionTable(optionalHeader + m_OptionalHeaderSize, sectionCount)) {
        return false;
    }
    if (m_Wants64Bit && !m_Is64Bit) {
        return bad("32 bit executables are not supported by this disassembler");
    }
    if (!m_Wants64Bit && m_Is64Bit) {
        return bad("64 bit executables are not supported by this disassembler");
    }
    if (!m_HasTextSection) {
        return bad("Resource-only executables are not yet supported");
    }
    return good();
}

bool DisassemblerWin32::parseOptionalHeader(size_t optionalHeader) {
    const uint8_t *header = start() + optionalHeader;
    if (m_OptionalHeaderSize < 2) {
        return bad("optional header no magic");
    }
    const uint16_t magic = ReadLe16(header);
    if (magic != kMagic32 && magic != kMagic64) {
        return bad("unrecognized magic");
    }
    m_Is64Bit = magic == kMagic64;
    m_DataDirectoryOffset = m_Is64Bit ? kDataDirectories64 : kDataDirectories32;
    if (m_OptionalHeaderSize < m_DataDirectoryOffset) {
        return bad("optional header too short");
    }
    m_OptionalHeader = optionalHeader;
    m_ImageBase = m_Is64Bit ? ReadLe64(header + 24) : ReadLe32(header + 28);
    m_SizeOfImage = ReadLe32(header + kSizeOfImageField);
    // The directory count is the last field before the directories.
    m_NumberOfDataDirectories = ReadLe32(header + m_DataDirectoryOffset - 4);
    return parseDataDirectories();
}

bool DisassemblerWin32::parseDataDirectories() {
    bool consistent = true;
    for (const uint32_t index : kCheckedDirectories) {
        DataDirectory directory = {0, 0};
        if (!readDataDirectory(index, &directory)) {
            difflog::LogStream(difflog::LogLevel_DEBUG)
                << "data directory " << index << ": " << failureReason();
            consistent = false;
        } else if (index == kBaseRelocationDirectory) {
            m_BaseRelocationTable = directory;
        }
    }
    return consistent || bad("malformed data directory");
}

bool DisassemblerWin32::readDataDirectory(uint32_t index, DataDirectory *directory) {
    if (index >= m_NumberOfDataDirectories) {
        return true;  // absent directories read as empty
    }
    const size_t entry = m_DataDirectoryOffset + kDataDirectorySize * index;
    if (entry + kDataDirectorySize > m_OptionalHeaderSize) {
        return bad("number of data directories inconsistent");
    }
    const uint8_t *p = start() + m_OptionalHeader + entry;
    directory->address = ReadLe32(p);
    directory->size = ReadLe32(p + 4);
    if (directory->address > m_SizeOfImage) {
        return bad("data directory outside image");
    }
    if (directory->size > m_SizeOfImage) {
        return bad("data directory size too big");
    }
    return true;
}

bool DisassemblerWin32::parseSectionTable(size_t table, uint32_t count) {
    // table < length() holds: the optional header ends before the data does.
    if (count > (length() - table) / kSectionHeaderSize) {
        return bad("section table past end of file");
    }
    if (!m_Sections.reserve(count)) {
        return bad("out of memory");
    }
    uint64_t end = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *header = start() + table + kSectionHeaderSize * i;
        const Section section = {ReadLe32(header + 8), ReadLe32(header + 12), ReadLe32(header + 16),
                                 ReadLe32(header + 20),
                                 std::memcmp(header, kTextName, sizeof(kTextName)) == 0};
        m_HasTextSection = m_HasTextSection || section.isText;
        end = std::max<uint64_t>(end, uint64_t{section.rawPointer} + section.rawSize);
        m_Sections.push_back(section);
    }
    reduceLength(static_cast<size_t>(end));
    return true;
}

bool DisassemblerWin32::rvaToFileOffset(uint32_t rva, size_t *offset) const {
    for (const Section &section : m_Sections) {
        if (rva >= section.virtualAddress && rva - section.virtualAddress < section.virtualSize) {
            const uint32_t within = rva - section.virtualAddress;
            *offset = size_t{section.rawPointer} + within;
            return within < section.rawSize;
        }
    }
    // The headers are not inside a section; 0 and 2 are the two rvas the
    // image layout refers to there.
    if (rva == 0 || rva == 2) {
        *offset = rva;
        return true;
    }
    difflog::LogStream(difflog::LogLevel_ERROR) << "REACHED UNREACHABLE";
    return false;
}

uint32_t DisassemblerWin32::fileOffsetToRva(size_t offset) const {
    for (const Section &section : m_Sections) {
        if (offset >= section.rawPointer && offset - section.rawPointer < section.rawSize) {
            return static_cast<uint32_t>(offset - section.rawPointer) + section.virtualAddress;
        }
    }
    return 0;
}

bool DisassemblerWin32::disassemble(AsmProgram *program) {
    if (!ok()) {
        return false;
    }
    program->setImageBase(m_ImageBase);
    m_Abs32Locations.clear();
    m_Rel32Locations.clear();
    m_RelocationTableEmitted = false;
    if (!sortSectionsByFileOffset() || !collectAbs32Locations() || !collectRel32Locations() ||
        !emitImage(program)) {
        return false;
    }
    program->defaultAssignIndexes();
    return true;
}

bool DisassemblerWin32::collectAbs32Locations() {
    const DataDirectory &table = m_BaseRelocationTable;
    if (table.size == 0) {
        return true;
    }
    size_t offset = 0;
    if (!rvaToFileOffset(table.address, &offset) || offset > length() ||
        table.size > length() - offset) {
        return bad(".relocs outside image");
    }
    const size_t end = offset + table.size;
    if (table.size > kRelocationBlockHeader) {
        while (offset < end && end - offset >= kRelocationBlockHeader) {
            const uint32_t blockSize = ReadLe32(start() + offset + 4);
            if (blockSize < kRelocationBlockHeader || blockSize % 4 != 0) {
                return bad("unreasonable relocs block");
            }
            if (blockSize > length() - offset) {
                return bad(".relocs block outside image");
            }
            if (!collectRelocationBlock(offset, blockSize)) {
                return false;
            }
            offset += blockSize;
        }
    }
    std::sort(m_Abs32Locations.begin(), m_Abs32Locations.end());
    return true;
}

bool DisassemblerWin32::collectRelocationBlock(size_t block, size_t size) {
    const uint8_t *p = start() + block;
    const uint32_t page = ReadLe32(p);
    const uint32_t wanted = m_Is64Bit ? kRelocationType64 : kRelocationType32;
    for (size_t entry = kRelocationBlockHeader; entry + 2 <= size; entry += 2) {
        const uint16_t value = ReadLe16(p + entry);
        const uint32_t type = value >> 12;
        if (type == 0) {
            continue;  // padding
        }
        if (type != wanted) {
            return bad("unknown type of reloc");
        }
        if (!m_Abs32Locations.push_back(page + (value & 0xFFFu))) {
            return bad("out of memory");
        }
    }
    return true;
}

bool DisassemblerWin32::sortSectionsByFileOffset() {
    m_FileOrder.clear();
    if (!m_FileOrder.reserve(m_Sections.size())) {
        return bad("out of memory");
    }
    for (const Section &section : m_Sections) {
        m_FileOrder.push_back(&section);
    }
    // Stable: of sections that start at the same offset the first in the
    // table comes first.
    std::stable_sort(
        m_FileOrder.begin(), m_FileOrder.end(),
        [](const Section *a, const Section *b) { return a->rawPointer < b->rawPointer; });
    return true;
}

bool DisassemblerWin32::collectRel32Locations() {
    for (const Section *section : m_FileOrder) {
        if (!section->isText) {
            continue;
        }
        if (section->rawPointer > length() || section->rawSize > length() - section->rawPointer) {
            return bad("section outside image");
        }
        scanTextSection(*section);
    }
    if (!ok()) {
        return false;  // allocation failed during a scan
    }
    std::sort(m_Rel32Locations.begin(), m_Rel32Locations.end());
    return true;
}

void DisassemblerWin32::scanTextSection(const Section &section) {
    const uint8_t *data = start() + section.rawPointer;
    const PodVector<uint32_t> &abs32 = m_Abs32Locations;
    size_t nextAbs32 = 0;
    size_t p = 0;
    while (p < section.rawSize) {
        const uint32_t rva = section.virtualAddress + static_cast<uint32_t>(p);
        if (m_BaseRelocationTable.size != 0 && rva == m_BaseRelocationTable.address) {
            p += m_BaseRelocationTable.size;
            continue;
        }
        X86Rel32Candidate candidate;
        if (!FindX86Rel32Candidate(data + p, section.rawSize - p, m_Is64Bit, &candidate)) {
            ++p;
            continue;
        }
        const uint32_t operandRva = rva + static_cast<uint32_t>(candidate.operandOffset);
        const uint32_t overlapStart = operandRva >= 3 ? operandRva - 3 : 0;
        while (nextAbs32 < abs32.size() && abs32[nextAbs32] < overlapStart) {
            ++nextAbs32;
        }
        if (nextAbs32 < abs32.size() && abs32[nextAbs32] < operandRva + 4) {
            // The operand bytes are (partly) an absolute address: resume
            // after that address. The guard keeps a wrapped rva moving.
            const size_t resume = abs32[nextAbs32] + 4 - section.virtualAddress;
            p = resume > p ? resume : p + 1;
            continue;
        }
        const uint32_t target = operandRva + 4 + ReadLe32(data + p + candidate.operandOffset);
        const bool inSection = target >= section.virtualAddress &&
                               target - section.virtualAddress < section.virtualSize;
        if (target < m_SizeOfImage && (candidate.ripRelative || inSection)) {
            if (!m_Rel32Locations.push_back(operandRva)) {
                bad("out of memory");
                return;
            }
            p += candidate.operandOffset + 4;
        } else {
            ++p;
        }
    }
}

// Sections in file order, each starting at or after the end of the last
// one emitted; sections without raw data and overlapping ones are passed
// over. Bytes after the last section are not part of the image.
bool DisassemblerWin32::emitImage(AsmProgram *program) {
    size_t position = 0;
    for (const Section *section : m_FileOrder) {
        if (position >= length()) {
            break;
        }
        if (section->rawSize == 0 || section->rawPointer < position) {
            continue;
        }
        if (section->rawPointer > length() || section->rawSize > length() - section->rawPointer) {
            return bad("section outside image");
        }
        for (; position < section->rawPointer; ++position) {
            if (!program->emitByte(start()[position])) {
                return bad("out of memory");
            }
        }
        if (!emitSection(*section, program)) {
            return false;
        }
        position = size_t{section->rawPointer} + section->rawSize;
    }
    return true;
}

bool DisassemblerWin32::emitSection(const Section &section, AsmProgram *program) {
    if (!program->emitOrigin(section.virtualAddress)) {
        return bad("out of memory");
    }
    const uint8_t *data = start() + section.rawPointer;
    const PodVector<uint32_t> &abs32 = m_Abs32Locations;
    const PodVector<uint32_t> &rel32 = m_Rel32Locations;
    size_t nextAbs32 = 0;
    size_t nextRel32 = 0;
    size_t i = 0;
    while (i < section.rawSize) {
        const uint32_t rva = section.virtualAddress + static_cast<uint32_t>(i);
        while (nextAbs32 < abs32.size() && abs32[nextAbs32] < rva) {
            ++nextAbs32;
        }
        while (nextRel32 < rel32.size() && rel32[nextRel32] < rva) {
            ++nextRel32;
        }
        const bool fits = section.rawSize - i >= 4;
        bool emitted = true;
        if (m_BaseRelocationTable.size != 0 && rva == m_BaseRelocationTable.address &&
            !m_RelocationTableEmitted) {
            m_RelocationTableEmitted = true;
            emitted = program->emitPeRelocs();
            i += m_BaseRelocationTable.size;
        } else if (fits && nextAbs32 < abs32.size() && abs32[nextAbs32] == rva) {
            const uint32_t target = ReadLe32(data + i) - static_cast<uint32_t>(m_ImageBase);
            Label *label = program->findOrMakeAbs32Label(target);
            emitted = label != nullptr && program->emitAbs32(label);
            i += 4;
        } else if (fits && nextRel32 < rel32.size() && rel32[nextRel32] == rva) {
            Label *label = program->findOrMakeRel32Label(rva + 4 + ReadLe32(data + i));
            emitted = label != nullptr && program->emitRel32(label);
            i += 4;
        } else {
            emitted = program->emitByte(data[i]);
            ++i;
        }
        if (!emitted) {
            return bad("out of memory");
        }
    }
    return true;
}

}  // namespace vxdelta
