#include "host/loadprogress.h"

#include <filesystem>

namespace vexlar {
namespace host {

progressFile_t::progressFile_t(const std::string& path) : std::istream(nullptr) {
    if (buffer.open(path))
        rdbuf(&buffer);
    else
        setstate(std::ios::failbit);
}

bool progressBuffer_t::open(const std::string& path) {
    pass = "Reading " + std::filesystem::path(path).filename().string();
    if (!file.open(path, std::ios::in | std::ios::binary)) return false;
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(path, ec);
    size = ec ? 0 : static_cast<long long>(bytes);
    return true;
}

progressBuffer_t::~progressBuffer_t() {
    if (begun) report(progressStage_t::end);
}

void progressBuffer_t::report(progressStage_t stage) {
    progressEvent_t e;
    e.pass = pass;
    e.stage = stage;
    e.total = size;
    e.done = stage == progressStage_t::end ? size : (offset < size ? offset : size);
    emitProgress(messageStream_t::standardError, "", e);
}

progressBuffer_t::int_type progressBuffer_t::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (!begun) {
        begun = true;
        report(progressStage_t::begin);
    }
    offset += egptr() - eback();
    const std::streamsize n = file.sgetn(buffer, sizeof buffer);
    setg(buffer, buffer, buffer + (n > 0 ? n : 0));
    if (n <= 0) return traits_type::eof();
    report(progressStage_t::step);
    return traits_type::to_int_type(*gptr());
}

progressBuffer_t::pos_type progressBuffer_t::seekoff(off_type off, std::ios_base::seekdir dir,
                                                     std::ios_base::openmode which) {
    // Only where the reader is now and the start are asked for.
    if (dir == std::ios_base::cur && off == 0) return pos_type(offset + (gptr() - eback()));
    if (dir == std::ios_base::beg) return seekpos(pos_type(off), which);
    return pos_type(off_type(-1));
}

progressBuffer_t::pos_type progressBuffer_t::seekpos(pos_type pos, std::ios_base::openmode which) {
    const pos_type at = file.pubseekpos(pos, which);
    if (at == pos_type(off_type(-1))) return at;
    offset = static_cast<long long>(at);
    setg(buffer, buffer, buffer);
    return at;
}

} // namespace host
} // namespace vexlar
