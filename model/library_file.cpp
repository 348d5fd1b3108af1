// SPDX-License-Identifier: Apache-2.0
// Checks a shared library file before the system loader maps it: every byte its
// ELF headers declare must be in the file.
#include "model/library_file.h"

#include <cstdint>
#include <fstream>
#include <vector>

#if __has_include(<elf.h>)
#include <elf.h>
#define TWEENORA_HAS_ELF 1
#endif

namespace tweenora::model {

#ifdef TWEENORA_HAS_ELF
namespace {

#if UINTPTR_MAX > 0xffffffffu
using FileHeader = Elf64_Ehdr;
using ProgramHeader = Elf64_Phdr;
constexpr unsigned char kNativeClass = ELFCLASS64;
#else
using FileHeader = Elf32_Ehdr;
using ProgramHeader = Elf32_Phdr;
constexpr unsigned char kNativeClass = ELFCLASS32;
#endif

// offset + count * size, or UINT64_MAX when that overflows.
uint64_t extentEnd(uint64_t offset, uint64_t count, uint64_t size) {
    if (size != 0 && count > (UINT64_MAX - offset) / size)
        return UINT64_MAX;
    return offset + count * size;
}

std::string cutShort(const std::string& path, const char* what, uint64_t end, uint64_t size) {
    return "'" + path + "' is cut short: its " + what + " reach to byte " + std::to_string(end) +
           ", but the file holds " + std::to_string(size) + " bytes";
}

}  // namespace

std::string incompleteLibraryReason(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file)
        return {};  // the loader says why it cannot open it
    const uint64_t size = uint64_t(file.tellg());
    FileHeader header{};
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(&header), sizeof header))
        return {};
    if (header.e_ident[EI_MAG0] != ELFMAG0 || header.e_ident[EI_MAG1] != ELFMAG1 ||
        header.e_ident[EI_MAG2] != ELFMAG2 || header.e_ident[EI_MAG3] != ELFMAG3 ||
        header.e_ident[EI_CLASS] != kNativeClass || header.e_phentsize != sizeof(ProgramHeader))
        return {};

    const uint64_t programEnd = extentEnd(header.e_phoff, header.e_phnum, header.e_phentsize);
    if (programEnd > size)
        return cutShort(path, "program headers", programEnd, size);
    std::vector<ProgramHeader> segments(header.e_phnum);
    file.seekg(std::streamoff(header.e_phoff));
    if (!file.read(reinterpret_cast<char*>(segments.data()),
                   std::streamsize(segments.size() * sizeof(ProgramHeader))))
        return cutShort(path, "program headers", programEnd, size);
    for (const ProgramHeader& segment : segments) {
        const uint64_t end = extentEnd(segment.p_offset, 1, segment.p_filesz);
        if (end > size)
            return cutShort(path, "segments", end, size);
    }
    // The loader itself never reads the section headers, but a file that
    // lacks its last bytes is damaged wherever the cut fell.
    if (header.e_shoff != 0) {
        const uint64_t sectionEnd = extentEnd(header.e_shoff, header.e_shnum, header.e_shentsize);
        if (sectionEnd > size)
            return cutShort(path, "section headers", sectionEnd, size);
    }
    return {};
}

#else

std::string incompleteLibraryReason(const std::string& /*path*/) {
    return {};
}

#endif

}  // namespace tweenora::model
