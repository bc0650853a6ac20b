#include "host/mpiblock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace vexlar {
namespace host {

namespace {

constexpr char checkpointMagic[17] = "vexlar-ckpt-v01\n";
constexpr std::size_t checkpointHead = 16 + 8 + 3 * 4;
constexpr std::uint32_t formRaw = 0;
constexpr std::uint32_t formZlib = 1;

template <class T> void put(std::vector<unsigned char>& out, T value) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&value);
    out.insert(out.end(), p, p + sizeof(T));
}

template <class T> T get(const unsigned char* p) {
    T value;
    std::memcpy(&value, p, sizeof(T));
    return value;
}

std::string faultText(workerFault_t f) {
    switch (f) {
    case workerFault_t::unknownBlock:
        return "names no block of this image";
    case workerFault_t::deliveredTwice:
        return "repeats a block that arrived already";
    case workerFault_t::wrongRectangle:
        return "has the wrong position or size for its block";
    default:
        return "is not a block record";
    }
}

bool writeAll(int fd, const unsigned char* p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool readWhole(int fd, std::vector<unsigned char>& out) {
    unsigned char chunk[1 << 16];
    for (;;) {
        ssize_t r = ::read(fd, chunk, sizeof chunk);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) return true;
        out.insert(out.end(), chunk, chunk + r);
    }
}

} // namespace

std::vector<unsigned char> encodeBlock(const workerMessageHeader_t& h, const std::vector<float>& pixels,
                                       bool allowZlib) {
    const std::size_t rawBytes = pixels.size() * sizeof(float);
    std::vector<unsigned char> out;
    out.reserve(blockRecordHead + rawBytes);
    for (std::int32_t v : {h.index, h.x, h.y, h.w, h.h}) put(out, v);
    if (allowZlib && rawBytes > 0) {
        uLongf packed = compressBound(static_cast<uLong>(rawBytes));
        std::vector<unsigned char> z(packed);
        // The fastest level: most of the gain (flat backgrounds) at a
        // fraction of the default level's time.
        if (compress2(z.data(), &packed, reinterpret_cast<const Bytef*>(pixels.data()),
                      static_cast<uLong>(rawBytes), Z_BEST_SPEED) == Z_OK &&
            packed < rawBytes) {
            put(out, formZlib);
            put(out, static_cast<std::uint32_t>(packed));
            out.insert(out.end(), z.begin(), z.begin() + static_cast<std::ptrdiff_t>(packed));
            return out;
        }
    }
    put(out, formRaw);
    put(out, static_cast<std::uint32_t>(rawBytes));
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pixels.data());
    out.insert(out.end(), p, p + rawBytes);
    return out;
}

bool decodeBlock(const unsigned char* data, std::size_t size, const blockLedger_t& ledger,
                 workerMessage_t& out, std::size_t& used, std::string& error) {
    if (size < blockRecordHead) {
        error = "cut short";
        return false;
    }
    workerMessageHeader_t& h = out.header;
    h.index = get<std::int32_t>(data);
    h.x = get<std::int32_t>(data + 4);
    h.y = get<std::int32_t>(data + 8);
    h.w = get<std::int32_t>(data + 12);
    h.h = get<std::int32_t>(data + 16);
    const workerFault_t fault = ledger.check(h, 0);
    if (fault != workerFault_t::none) {
        error = "the record " + faultText(fault);
        return false;
    }
    const std::uint32_t form = get<std::uint32_t>(data + 20);
    const std::uint32_t length = get<std::uint32_t>(data + 24);
    const std::size_t rawBytes =
        static_cast<std::size_t>(h.w) * static_cast<std::size_t>(h.h) * workerFloatsPerPixel * sizeof(float);
    if ((form != formRaw && form != formZlib) || (form == formRaw && length != rawBytes)) {
        error = "the record's payload is neither raw pixels of its block nor zlib data";
        return false;
    }
    if (size - blockRecordHead < length) {
        error = "cut short";
        return false;
    }
    out.pixels.resize(rawBytes / sizeof(float));
    const unsigned char* payload = data + blockRecordHead;
    if (form == formRaw) {
        std::memcpy(out.pixels.data(), payload, rawBytes);
    } else {
        uLongf got = static_cast<uLongf>(rawBytes);
        if (uncompress(reinterpret_cast<Bytef*>(out.pixels.data()), &got, payload, length) != Z_OK ||
            got != rawBytes) {
            error = "the record's zlib data is damaged or not the size of its block";
            return false;
        }
    }
    used = blockRecordHead + length;
    return true;
}

checkpoint_t::~checkpoint_t() {
    if (fd >= 0) ::close(fd);
}

std::string checkpoint_t::nameFor(const std::string& outputPath) {
    return outputPath + ".checkpoint";
}

bool checkpoint_t::create(const std::string& path, const checkpointKey_t& key, std::string& error) {
    if (fd >= 0) ::close(fd);
    file = path;
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<unsigned char> head(checkpointMagic, checkpointMagic + 16);
    put(head, key.fingerprint);
    for (std::int32_t v : {key.width, key.height, key.blocks}) put(head, v);
    if (fd < 0 || !writeAll(fd, head.data(), head.size())) {
        error = "cannot write the checkpoint \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool checkpoint_t::resume(const std::string& path, const checkpointKey_t& key, const blockLedger_t& ledger,
                          std::vector<workerMessage_t>& blocks, std::string& error) {
    if (fd >= 0) ::close(fd);
    file = path;
    const std::string where = "the checkpoint \"" + path + "\"";
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot open " + where + (fd < 0 ? std::string(": ") + std::strerror(errno) : ": not a file");
        return false;
    }
    std::vector<unsigned char> bytes;
    if (!readWhole(fd, bytes)) {
        error = "cannot read " + where + ": " + std::strerror(errno);
        return false;
    }
    if (bytes.size() < checkpointHead || std::memcmp(bytes.data(), checkpointMagic, 16) != 0) {
        error = where + " is not a vexlar checkpoint";
        return false;
    }
    if (get<std::uint64_t>(&bytes[16]) != key.fingerprint || get<std::int32_t>(&bytes[24]) != key.width ||
        get<std::int32_t>(&bytes[28]) != key.height || get<std::int32_t>(&bytes[32]) != key.blocks) {
        error = where + " was made for another scene or other settings; delete it or render without --resume";
        return false;
    }
    blockLedger_t seen = ledger; // records the blocks read so far, so a repeat is refused
    std::size_t at = checkpointHead;
    while (at < bytes.size()) {
        workerMessage_t m;
        std::size_t used = 0;
        std::string why;
        if (!decodeBlock(&bytes[at], bytes.size() - at, seen, m, used, why)) {
            if (why == "cut short") break; // the last record was being written when the render ended
            error = where + " is damaged at byte " + std::to_string(at) + ": " + why;
            return false;
        }
        seen.markDelivered(static_cast<std::size_t>(m.header.index));
        blocks.push_back(std::move(m));
        at += used;
    }
    if (ftruncate(fd, static_cast<off_t>(at)) != 0 || lseek(fd, 0, SEEK_END) < 0) {
        error = "cannot write " + where + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool checkpoint_t::append(const std::vector<unsigned char>& record, std::string& error) {
    if (fd >= 0 && writeAll(fd, record.data(), record.size())) return true;
    error = "cannot write the checkpoint \"" + file + "\": " + std::strerror(errno);
    return false;
}

void checkpoint_t::remove() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (!file.empty()) ::unlink(file.c_str());
}

} // namespace host
} // namespace vexlar
