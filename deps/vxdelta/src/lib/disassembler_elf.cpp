#include "disassembler_elf.h"

#include <algorithm>
#include <new>

#include "image_bytes.h"
#include "log.h"
#include "x86_rel32.h"

namespace vxdelta {

namespace {

constexpr uint16_t kTypeExecutable = 2;
constexpr uint16_t kTypeSharedObject = 3;
constexpr size_t kTypeField = 16;
constexpr size_t kMachineField = 18;
constexpr size_t kVersionField = 20;

// Sign-extends a 32-bit operand to the address width.
template <typename Addr>
Addr SignExtend32(uint32_t value) {
    return static_cast<Addr>(static_cast<int64_t>(static_cast<int32_t>(value)));
}

}  // namespace

uint32_t Elf32Layout::readAddr(const uint8_t *p) {
    return ReadLe32(p);
}

void Elf32Layout::readSection(const uint8_t *p, ElfSection<Addr> *section) {
    *section = {ReadLe32(p + 4), ReadLe32(p + 12), ReadLe32(p + 16), ReadLe32(p + 20),
                ReadLe32(p + 36)};
}

void Elf32Layout::readSegment(const uint8_t *p, ElfSegment<Addr> *segment) {
    *segment = {ReadLe32(p), ReadLe32(p + 4), ReadLe32(p + 8), ReadLe32(p + 16), ReadLe32(p + 20)};
}

uint64_t Elf64Layout::readAddr(const uint8_t *p) {
    return ReadLe64(p);
}

void Elf64Layout::readSection(const uint8_t *p, ElfSection<Addr> *section) {
    *section = {ReadLe32(p + 4), ReadLe64(p + 16), ReadLe64(p + 24), ReadLe64(p + 32),
                ReadLe64(p + 56)};
}

void Elf64Layout::readSegment(const uint8_t *p, ElfSegment<Addr> *segment) {
    *segment = {ReadLe32(p), ReadLe64(p + 8), ReadLe64(p + 16), ReadLe64(p + 32), ReadLe64(p + 40)};
}

template <typename Layout>
bool DisassemblerElf<Layout>::TypedRVARel32::computeRelativeTarget(const uint8_t *bytes) {
    this->setRelativeTarget(SignExtend32<Addr>(ReadLe32(bytes)) + 4);
    return true;
}

template <typename Layout>
bool DisassemblerElf<Layout>::TypedRVARel32::emitInstruction(AsmProgram *program, Addr target,
                                                             const uint8_t *) {
    Label *label = program->findOrMakeRel32Label(static_cast<uint32_t>(target));
    return label != nullptr && program->emitRel32(label);
}

template <typename Layout>
bool DisassemblerElf<Layout>::parseHeader() {
    const uint8_t *image = start();
    if (length() < Layout::kHeaderSize) {
        return bad("Too small");
    }
    if (image[0] != 0x7F || image[1] != 'E' || image[2] != 'L' || image[3] != 'F') {
        return bad("No Magic Number");
    }
    const uint16_t type = ReadLe16(image + kTypeField);
    if (type != kTypeExecutable && type != kTypeSharedObject) {
        return bad("Not an executable file or shared library");
    }
    if (ReadLe16(image + kMachineField) != elfMachine()) {
        return bad("Not a supported architecture");
    }
    if (ReadLe32(image + kVersionField) != 1) {
        return bad("Unknown file version");
    }
    if (ReadLe16(image + Layout::kSectionEntrySizeField) != Layout::kSectionHeaderSize) {
        return bad("Unexpected section header size");
    }
    m_SectionTableOffset = Layout::readAddr(image + Layout::kSectionTableField);
    m_SectionCount = ReadLe16(image + Layout::kSectionCountField);
    m_ProgramTableOffset = Layout::readAddr(image + Layout::kProgramTableField);
    m_ProgramCount = ReadLe16(image + Layout::kProgramCountField);
    if (m_SectionTableOffset >= length()) {
        return bad("Out of bounds section header table offset");
    }
    if (m_SectionCount > (length() - m_SectionTableOffset) / Layout::kSectionHeaderSize) {
        return bad("Out of bounds section header table");
    }
    if (m_ProgramTableOffset >= length()) {
        return bad("Out of bounds program header table offset");
    }
    if (m_ProgramCount > (length() - m_ProgramTableOffset) / Layout::kProgramHeaderSize) {
        return bad("Out of bounds program header table");
    }
    if (!readTables()) {
        return bad("out of memory");
    }
    reduceToContents();
    return good();
}

template <typename Layout>
bool DisassemblerElf<Layout>::readTables() {
    if (!m_Sections.reserve(m_SectionCount) || !m_Segments.reserve(m_ProgramCount)) {
        return false;
    }
    for (uint32_t i = 0; i < m_SectionCount; ++i) {
        Section section;
        Layout::readSection(start() + m_SectionTableOffset + i * Layout::kSectionHeaderSize,
                            &section);
        m_Sections.push_back(section);
    }
    for (uint32_t i = 0; i < m_ProgramCount; ++i) {
        Segment segment;
        Layout::readSegment(start() + m_ProgramTableOffset + i * Layout::kProgramHeaderSize,
                            &segment);
        m_Segments.push_back(segment);
    }
    return true;
}

// The executable ends with the last byte that a section with file data, a
// segment or one of the header tables occupies.
template <typename Layout>
void DisassemblerElf<Layout>::reduceToContents() {
    uint64_t end = std::max<uint64_t>(
        uint64_t{m_SectionTableOffset} + uint64_t{m_SectionCount} * Layout::kSectionHeaderSize,
        uint64_t{m_ProgramTableOffset} + uint64_t{m_ProgramCount} * Layout::kProgramHeaderSize);
    for (const Section &section : m_Sections) {
        if (section.type != ELF_SECTION_NOBITS) {
            end = std::max(end, SaturatingAdd(section.offset, section.size));
        }
    }
    for (const Segment &segment : m_Segments) {
        end = std::max(end, SaturatingAdd(segment.offset, segment.fileSize));
    }
    reduceLength(end > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(end));
}

template <typename Layout>
bool DisassemblerElf<Layout>::rvaToFileOffset(Addr rva, size_t *offset) const {
    for (const Segment &segment : m_Segments) {
        if (rva < segment.address) {
            continue;
        }
        const Addr within = rva - segment.address;
        if (within < segment.memorySize && within < segment.fileSize) {
            const uint64_t fileOffset = SaturatingAdd(segment.offset, within);
            if (fileOffset > SIZE_MAX) {
                return false;
            }
            *offset = static_cast<size_t>(fileOffset);
            return true;
        }
    }
    return false;
}

template <typename Layout>
bool DisassemblerElf<Layout>::isValidTargetRva(Addr rva) const {
    for (const Segment &segment : m_Segments) {
        if (segment.type == kElfSegmentLoad && rva >= segment.address &&
            rva - segment.address < segment.memorySize) {
            return true;
        }
    }
    return false;
}

template <typename Layout>
const uint8_t *DisassemblerElf<Layout>::sectionData(const Section &section) {
    if (section.offset > length() || section.size > length() - section.offset) {
        bad("section outside image");
        return nullptr;
    }
    return start() + section.offset;
}

template <typename Layout>
bool DisassemblerElf<Layout>::disassemble(AsmProgram *program) {
    if (!ok()) {
        return false;
    }
    program->setImageBase(0);
    m_Abs32Locations.clear();
    m_Abs32Offsets.clear();
    m_Rel32.clear();
    m_NextAbs32 = 0;
    m_NextRel32 = 0;
    m_RelocationTableClaimed = false;
    if (!collectAbs32Locations() || !collectRel32Locations() || !translateLocations() ||
        !emitFile(program)) {
        return false;
    }
    program->defaultAssignIndexes();
    return true;
}

template <typename Layout>
bool DisassemblerElf<Layout>::collectAbs32Locations() {
    for (const Section &section : m_Sections) {
        if (section.type != ELF_SECTION_REL) {
            continue;
        }
        const uint8_t *data = sectionData(section);
        if (data == nullptr) {
            return false;
        }
        if (section.entrySize < Layout::kRelocationSize) {
            return bad("relocation entry size too small");
        }
        const Addr count = section.size / section.entrySize;
        for (Addr i = 0; i < count; ++i) {
            Addr rva = 0;
            if (rvaFromRelocation(data + i * section.entrySize, &rva) &&
                isInRelocatableSection(rva) && !m_Abs32Locations.push_back(rva)) {
                return bad("out of memory");
            }
        }
    }
    std::sort(m_Abs32Locations.begin(), m_Abs32Locations.end());
    return true;
}

template <typename Layout>
bool DisassemblerElf<Layout>::isInRelocatableSection(Addr rva) const {
    size_t offset = 0;
    if (!rvaToFileOffset(rva, &offset)) {
        return false;
    }
    for (const Section &section : m_Sections) {
        if ((section.type == ELF_SECTION_PROGBITS || section.type == ELF_SECTION_REL) &&
            offset >= section.offset && offset - section.offset < section.size) {
            return true;
        }
    }
    return false;
}

template <typename Layout>
bool DisassemblerElf<Layout>::collectRel32Locations() {
    for (const Section &section : m_Sections) {
        if (section.type == ELF_SECTION_PROGBITS &&
            (sectionData(section) == nullptr || !parseRel32RelocsFromSection(section))) {
            return false;
        }
    }
    std::stable_sort(m_Rel32.begin(), m_Rel32.end(),
                     [](const std::unique_ptr<TypedRVA> &a, const std::unique_ptr<TypedRVA> &b) {
                         return a->rva() < b->rva();
                     });
    return true;
}

template <typename Layout>
bool DisassemblerElf<Layout>::findX86Rel32InSection(const Section &section, bool x64) {
    const uint8_t *data = start() + section.offset;
    const size_t size = static_cast<size_t>(section.size);
    size_t p = 0;
    while (p < size) {
        X86Rel32Candidate candidate;
        if (!FindX86Rel32Candidate(data + p, size - p, x64, &candidate)) {
            ++p;
            continue;
        }
        const uint8_t *operand = data + p + candidate.operandOffset;
        const Addr rva = section.address + static_cast<Addr>(p + candidate.operandOffset);
        std::unique_ptr<TypedRVA> reference(new (std::nothrow) TypedRVARel32(rva));
        if (reference == nullptr || !reference->computeRelativeTarget(operand)) {
            return bad("out of memory");
        }
        if (isValidTargetRva(rva + reference->relativeTarget())) {
            if (!addReference(std::move(reference))) {
                return false;
            }
            p += candidate.operandOffset + 4;
        } else {
            ++p;
        }
    }
    return true;
}

template <typename Layout>
bool DisassemblerElf<Layout>::addReference(std::unique_ptr<TypedRVA> reference) {
    m_Rel32.push_back(std::move(reference));  // bad_alloc ends the disassembly
    return true;
}

template <typename Layout>
bool DisassemblerElf<Layout>::translateLocations() {
    if (!m_Abs32Offsets.reserve(m_Abs32Locations.size())) {
        return bad("out of memory");
    }
    for (const Addr rva : m_Abs32Locations) {
        size_t offset = 0;
        if (!rvaToFileOffset(rva, &offset)) {
            return bad("abs32 location outside the file");
        }
        m_Abs32Offsets.push_back(offset);
    }
    for (const std::unique_ptr<TypedRVA> &reference : m_Rel32) {
        size_t offset = 0;
        if (!rvaToFileOffset(reference->rva(), &offset)) {
            return bad("rel32 location outside the file");
        }
        reference->setFileOffset(offset);
    }
    return true;
}

template <typename Layout>
bool DisassemblerElf<Layout>::emitFileBytes(size_t from, size_t to, AsmProgram *program) {
    if (to > length()) {
        return bad("section outside image");
    }
    while (from < to) {
        const size_t chunk = std::min<size_t>(to - from, UINT32_MAX);
        if (!program->emitBytes(start() + from, static_cast<uint32_t>(chunk))) {
            return bad("out of memory");
        }
        from += chunk;
    }
    return true;
}

template <typename Layout>
bool DisassemblerElf<Layout>::emitFile(AsmProgram *program) {
    size_t position = 0;
    for (const Section &section : m_Sections) {
        if (!emitSection(section, &position, program)) {
            return false;
        }
    }
    if (position < length() && !emitFileBytes(position, length(), program)) {
        return false;
    }
    if (m_NextAbs32 != m_Abs32Offsets.size()) {
        return bad("abs32 location not in a code or data section");
    }
    return true;
}

template <typename Layout>
bool DisassemblerElf<Layout>::emitSection(const Section &section, size_t *position,
                                          AsmProgram *program) {
    if (section.offset > length()) {
        return bad("section outside image");
    }
    const size_t offset = static_cast<size_t>(section.offset);
    if (offset > *position && !emitFileBytes(*position, offset, program)) {
        return false;
    }
    // May move backwards: sections are emitted in table order.
    *position = offset;
    switch (section.type) {
        case ELF_SECTION_PROGBITS:
        case ELF_SECTION_REL: {
            if (sectionData(section) == nullptr) {
                return false;
            }
            const bool emitted = section.type == ELF_SECTION_PROGBITS
                                     ? emitProgbits(section, program)
                                     : parseRelocationSection(section, program);
            *position = offset + static_cast<size_t>(section.size);
            return emitted;
        }
        case ELF_SECTION_NOBITS:
        case ELF_SECTION_INIT_ARRAY:
        case ELF_SECTION_FINI_ARRAY:
            skipAbs32In(section, true);
            return true;
        default:
            skipAbs32In(section, false);
            return true;
    }
}

// consume: pass over the absolute references inside the section (they
// stay literal bytes); otherwise only report that one lies there.
template <typename Layout>
void DisassemblerElf<Layout>::skipAbs32In(const Section &section, bool consume) {
    while (m_NextAbs32 < m_Abs32Offsets.size()) {
        const size_t offset = m_Abs32Offsets[m_NextAbs32];
        if (offset < section.offset || offset - section.offset >= section.size) {
            return;
        }
        if (!consume) {
            difflog::LogStream(difflog::LogLevel_DEBUG)
                << "Relocation address in unrecognized ELF section: " << section.type;
            return;
        }
        difflog::LogStream(difflog::LogLevel_DEBUG)
            << "Skipping relocation entry for unsupported section: " << section.type;
        ++m_NextAbs32;
    }
}

template <typename Layout>
bool DisassemblerElf<Layout>::emitProgbits(const Section &section, AsmProgram *program) {
    if (!program->emitOrigin(static_cast<uint32_t>(section.address))) {
        return bad("out of memory");
    }
    const size_t begin = static_cast<size_t>(section.offset);
    const size_t end = begin + static_cast<size_t>(section.size);
    size_t offset = begin;
    while (offset < end) {
        const bool haveAbs32 = m_NextAbs32 < m_Abs32Offsets.size();
        if (haveAbs32 && m_Abs32Offsets[m_NextAbs32] < offset) {
            return bad("abs32 location behind the current offset");
        }
        size_t stop = haveAbs32 ? std::min(end, m_Abs32Offsets[m_NextAbs32]) : end;
        while (m_NextRel32 < m_Rel32.size() && m_Rel32[m_NextRel32]->fileOffset() < offset) {
            ++m_NextRel32;
        }
        TypedRVA *reference = m_NextRel32 < m_Rel32.size() ? m_Rel32[m_NextRel32].get() : nullptr;
        if (reference != nullptr && reference->fileOffset() + 3 < stop) {
            stop = reference->fileOffset();
        }
        if (stop > offset && !emitFileBytes(offset, stop, program)) {
            return false;
        }
        offset = stop;
        if (offset == end) {
            break;
        }
        if (haveAbs32 && m_Abs32Offsets[m_NextAbs32] == offset) {
            if (!emitNextAbs32(end, program)) {
                return false;
            }
            offset += 4;
        } else {
            const Addr target =
                section.address + static_cast<Addr>(offset - begin) + reference->relativeTarget();
            if (!reference->emitInstruction(program, target, start() + offset)) {
                return bad("out of memory");
            }
            offset += reference->operandSize();
            ++m_NextRel32;
        }
    }
    return true;
}

template <typename Layout>
bool DisassemblerElf<Layout>::emitNextAbs32(size_t end, AsmProgram *program) {
    const size_t offset = m_Abs32Offsets[m_NextAbs32];
    if (end - offset < 4) {
        return bad("abs32 location crosses the section end");
    }
    Label *label = program->findOrMakeAbs32Label(ReadLe32(start() + offset));
    if (label == nullptr || !program->emitAbs32(label)) {
        return bad("out of memory");
    }
    ++m_NextAbs32;
    return true;
}

template class DisassemblerElf<Elf32Layout>;
template class DisassemblerElf<Elf64Layout>;

}  // namespace vxdelta
