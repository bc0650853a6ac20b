#include "host/filecheck.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#include "host/limits.h"

namespace vexlar {
namespace host {

std::uint64_t maxMeshFileBytes() {
    const std::uint64_t memory = physicalMemory();
    return memory != 0 ? memory : std::uint64_t(16) << 30;
}

std::string inputFileFault(const std::string& path, std::uint64_t maxBytes) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "it is a folder";
    if (!S_ISREG(st.st_mode)) {
        const char* what = S_ISFIFO(st.st_mode)   ? "a FIFO"
                           : S_ISCHR(st.st_mode)  ? "a character device"
                           : S_ISBLK(st.st_mode)  ? "a block device"
                           : S_ISSOCK(st.st_mode) ? "a socket"
                                                  : "not a file";
        return std::string("not a regular file (") + what + ")";
    }
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (size > maxBytes)
        return "the file has " + byteText(size) + ", more than the " + byteText(maxBytes) + " read";
    return std::string();
}

} // namespace host
} // namespace vexlar
