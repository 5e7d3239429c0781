#include "disassembler.h"

#include <new>

#include "disassembler_elf32_arm.h"
#include "disassembler_elf32_x86.h"
#include "disassembler_elf64_x64.h"
#include "disassembler_macho.h"
#include "disassembler_win32_x64.h"
#include "disassembler_win32_x86.h"
#include "log.h"

namespace vxdelta {

Disassembler::Disassembler(const uint8_t *start, size_t length)
    : m_FailureReason("uninitialized"), m_Start(start), m_End(start + length), m_Length(length) {}

Disassembler::~Disassembler() = default;

bool Disassembler::good() {
    m_FailureReason.clear();
    return true;
}

bool Disassembler::bad(const char *reason) {
    m_FailureReason = reason;
    return false;
}

const uint8_t *Disassembler::fileOffsetToPointer(size_t offset) const {
    return offset < static_cast<size_t>(m_End - m_Start) ? m_Start + offset : nullptr;
}

bool Disassembler::isRangeInImage(size_t offset, size_t size) const {
    const size_t total = static_cast<size_t>(m_End - m_Start);
    return offset <= total && size <= total - offset;
}

void Disassembler::reduceLength(size_t length) {
    if (length < m_Length) {
        m_Length = length;
    }
}

namespace {

template <typename T>
std::unique_ptr<Disassembler> TryClass(const uint8_t *data, size_t size) {
    std::unique_ptr<Disassembler> candidate(new (std::nothrow) T(data, size));
    if (candidate == nullptr) {
        return nullptr;
    }
    if (!candidate->parseHeader()) {
        difflog::LogStream(difflog::LogLevel_DEBUG)
            << ExeTypeName(candidate->kind()) << " rejected: " << candidate->failureReason();
        return nullptr;
    }
    return candidate;
}

}  // namespace

std::unique_ptr<Disassembler> MakeDisassembler(const uint8_t *data, size_t size) {
    using Factory = std::unique_ptr<Disassembler> (*)(const uint8_t *, size_t);
    static const Factory kDetectionOrder[] = {
        TryClass<DisassemblerWin32X86>, TryClass<DisassemblerWin32X64>,
        TryClass<DisassemblerElf32X86>, TryClass<DisassemblerElf64X64>,
        TryClass<DisassemblerElf32ARM>, TryClass<DisassemblerMacho>,
    };
    for (const Factory factory : kDetectionOrder) {
        std::unique_ptr<Disassembler> accepted = factory(data, size);
        if (accepted != nullptr) {
            return accepted;
        }
    }
    return nullptr;
}

Status DetectExeType(const uint8_t *data, size_t size, ExeType *kind, size_t *detectedLength) {
    *kind = EXE_UNKNOWN;
    *detectedLength = 0;
    const std::unique_ptr<Disassembler> disassembler = MakeDisassembler(data, size);
    if (disassembler == nullptr) {
        return C_INPUT_NOT_RECOGNIZED;
    }
    *kind = disassembler->kind();
    *detectedLength = disassembler->length();
    return C_OK;
}

Status DisassembleExecutable(const uint8_t *data, size_t size,
                             std::unique_ptr<AsmProgram> *program) {
    program->reset();
    const std::unique_ptr<Disassembler> disassembler = MakeDisassembler(data, size);
    if (disassembler == nullptr) {
        return C_INPUT_NOT_RECOGNIZED;
    }
    std::unique_ptr<AsmProgram> result(new (std::nothrow) AsmProgram(disassembler->kind()));
    if (result == nullptr) {
        return C_DISASSEMBLY_FAILED;
    }
    try {
        if (!disassembler->disassemble(result.get())) {
            difflog::LogStream(difflog::LogLevel_DEBUG)
                << ExeTypeName(disassembler->kind())
                << " disassembly failed: " << disassembler->failureReason();
            return C_DISASSEMBLY_FAILED;
        }
    } catch (const std::bad_alloc &) {
        return C_DISASSEMBLY_FAILED;
    }
    *program = std::move(result);
    return C_OK;
}

}  // namespace vxdelta
