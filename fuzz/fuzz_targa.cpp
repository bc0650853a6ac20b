// libFuzzer target for the TGA reader: every input is written to a private
// temporary file and loaded. Any out-of-bounds access or leak is reported by
// the address sanitizer; a successful load must describe a consistent image.
#include "vexlarcore/targa.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// A private file name, made once per process; the file itself exists only
// while one input is being loaded (a fuzzer may end the process at any time).
const std::string& tempPath() {
    static const std::string path = [] {
        char tmpl[] = "/tmp/vexlar_fuzz_targa_XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd < 0) std::abort();
        close(fd);
        return std::string(tmpl);
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = tempPath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    if (size != 0 && std::fwrite(data, 1, size, f) != size) {
        std::fclose(f);
        std::remove(path.c_str());
        return 0;
    }
    std::fclose(f);

    vexlar::targaImg_t img;
    const bool loaded = img.Load(path.c_str());
    std::remove(path.c_str());
    if (loaded) {
        if (img.image == nullptr || img.image->resx != img.width || img.image->resy != img.height)
            std::abort();
        float sum = 0;
        for (int y = -1; y <= img.height; ++y)
            for (int x = -1; x <= img.width; ++x) sum += img(x, y).R;
        if (!(sum >= 0)) std::abort();
    } else if (img.file != nullptr) {
        std::abort();
    }
    return 0;
}
