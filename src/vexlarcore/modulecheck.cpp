#include "vexlarcore/modulecheck.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexlar {

namespace {

using ehdr_t = ElfW(Ehdr);
using phdr_t = ElfW(Phdr);

#if defined(__x86_64__)
const unsigned hostMachine = EM_X86_64;
#elif defined(__aarch64__)
const unsigned hostMachine = EM_AARCH64;
#elif defined(__i386__)
const unsigned hostMachine = EM_386;
#else
const unsigned hostMachine = EM_NONE; // not checked
#endif

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
const unsigned char hostData = ELFDATA2LSB;
#else
const unsigned char hostData = ELFDATA2MSB;
#endif

const unsigned char hostClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;

// Reads `size` bytes at `offset` fully.
bool readAt(int fd, std::uint64_t offset, void* out, std::size_t size) {
    auto* p = static_cast<char*>(out);
    while (size > 0) {
        ssize_t got = pread(fd, p, size, static_cast<off_t>(offset));
        if (got <= 0) return false;
        p += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

// True when [offset, offset + length) lies within `fileSize`.
bool inside(std::uint64_t offset, std::uint64_t length, std::uint64_t fileSize) {
    return offset <= fileSize && length <= fileSize - offset;
}

std::string checkHeaders(int fd, std::uint64_t fileSize) {
    ehdr_t eh;
    if (fileSize < sizeof eh || !readAt(fd, 0, &eh, sizeof eh) ||
        std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0)
        return "not an ELF file";
    if (eh.e_ident[EI_CLASS] != hostClass || eh.e_ident[EI_DATA] != hostData ||
        (hostMachine != EM_NONE && eh.e_machine != hostMachine))
        return "a library for another kind of machine";
    if (eh.e_type != ET_DYN) return "not a shared library";
    if (eh.e_phentsize != sizeof(phdr_t) || eh.e_phnum == 0) return "damaged ELF header";
    const std::uint64_t phSize = static_cast<std::uint64_t>(eh.e_phnum) * sizeof(phdr_t);
    if (!inside(eh.e_phoff, phSize, fileSize))
        return "the file is truncated: its program headers end past its " + std::to_string(fileSize) +
               " bytes";
    if (eh.e_shnum != 0 &&
        !inside(eh.e_shoff, static_cast<std::uint64_t>(eh.e_shnum) * eh.e_shentsize, fileSize))
        return "the file is truncated: its section headers end past its " + std::to_string(fileSize) +
               " bytes";
    std::vector<phdr_t> ph(eh.e_phnum);
    if (!readAt(fd, eh.e_phoff, ph.data(), phSize)) return "read error";
    for (const phdr_t& p : ph) {
        if (p.p_type != PT_LOAD && p.p_type != PT_DYNAMIC) continue;
        if (!inside(p.p_offset, p.p_filesz, fileSize))
            return "the file is truncated: a segment ends at byte " +
                   std::to_string(p.p_offset + p.p_filesz) + " of " + std::to_string(fileSize);
    }
    return std::string();
}

} // namespace

std::string moduleFileFault(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    struct stat st;
    std::string fault;
    if (fstat(fd, &st) != 0)
        fault = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        fault = "not a regular file";
    else
        fault = checkHeaders(fd, static_cast<std::uint64_t>(st.st_size));
    ::close(fd);
    return fault;
}

bool isFunctionSymbol(const void* address) {
    Dl_info info;
    void* entry = nullptr;
    if (address == nullptr || dladdr1(address, &info, &entry, RTLD_DL_SYMENT) == 0 || entry == nullptr)
        return false;
    const auto* sym = static_cast<const ElfW(Sym)*>(entry);
    if (info.dli_saddr != address) return false;
    const unsigned type = ELF64_ST_TYPE(sym->st_info);
    return type == STT_FUNC || type == STT_GNU_IFUNC;
}

} // namespace vexlar
