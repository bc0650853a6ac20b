// Helpers shared by the fuzz targets: private scratch files and folders that
// live as long as the fuzzing process, and pipes filled with an input.
#ifndef VEXLAR_FUZZ_SUPPORT_H
#define VEXLAR_FUZZ_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace vexlar {
namespace fuzz {

/// A private folder under /tmp, made once per process and removed when the
/// process exits normally (a crash leaves it for inspection).
inline const std::string& scratchDir() {
    // Never destroyed, so that the exit handler still finds it.
    static const std::string* dir = [] {
        char tmpl[] = "/tmp/vexlar_fuzz_XXXXXX";
        if (mkdtemp(tmpl) == nullptr) std::abort();
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratchDir(), ec);
        });
        return new std::string(tmpl);
    }();
    return *dir;
}

/// Writes `size` bytes to `path` (replacing it); false when that failed.
inline bool writeFile(const std::string& path, const void* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

/// Copies the file `from` to `to`; false when either could not be opened.
inline bool copyFile(const std::string& from, const std::string& to) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (in == nullptr) return false;
    std::string bytes;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) bytes.append(chunk, n);
    std::fclose(in);
    return writeFile(to, bytes.data(), bytes.size());
}

/// The read end of a pipe that holds `data` and then ends (the write end is
/// closed). Inputs longer than the pipe can hold are cut to what fits, so
/// nothing ever blocks. -1 when no pipe could be made.
inline int pipeHolding(const std::uint8_t* data, std::size_t size) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    int room = fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    if (room < 0) room = fcntl(fds[1], F_GETPIPE_SZ);
    if (room < 0) room = 4096;
    if (size > static_cast<std::size_t>(room)) size = static_cast<std::size_t>(room);
    while (size > 0) {
        ssize_t n = write(fds[1], data, size);
        if (n <= 0) break;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    close(fds[1]);
    return fds[0];
}

} // namespace fuzz
} // namespace vexlar

#endif
