#include "host/meshcache.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <xxhash.h>

namespace vexlar {
namespace host {

namespace {

const char magic[8] = {'v', 'x', 'l', 'r', 'm', 's', 'h', '1'};
// Raised whenever the entry layout or the tree rules change.
const std::uint32_t formatVersion = 2;

struct header_t {
    char magic[8];
    std::uint32_t version;
    std::uint32_t headerBytes;
    std::uint64_t key[2];
    std::uint64_t vertices, faces, uvFloats, nodes, items;
    std::uint32_t depth;
    float avgDepth, avgSize;
    std::uint32_t namesMaterials;
    std::uint64_t smoothLine, noteBytes;
    std::uint64_t checksum;
};

// The warnings of an entry's notes: each a 32-bit length and its characters.
std::string encodeWarnings(const std::vector<std::string>& warnings) {
    std::string out;
    for (const std::string& w : warnings) {
        const std::uint32_t n = static_cast<std::uint32_t>(w.size());
        out.append(reinterpret_cast<const char*>(&n), sizeof n).append(w);
    }
    return out;
}

bool decodeWarnings(const std::string& in, std::vector<std::string>& warnings) {
    for (std::size_t at = 0; at < in.size();) {
        std::uint32_t n;
        if (in.size() - at < sizeof n) return false;
        std::memcpy(&n, in.data() + at, sizeof n);
        at += sizeof n;
        if (in.size() - at < n) return false;
        warnings.push_back(in.substr(at, n));
        at += n;
    }
    return true;
}

std::string entryPath(const meshCacheSettings_t& s, const std::array<std::uint64_t, 2>& key) {
    char name[48];
    std::snprintf(name, sizeof name, "%016llx%016llx.vxmesh", static_cast<unsigned long long>(key[0]),
                  static_cast<unsigned long long>(key[1]));
    return s.folder + "/" + name;
}

// Creates `dir` and its parents.
bool makeFolders(const std::string& dir, std::string& why) {
    for (std::size_t at = 1; at <= dir.size(); ++at) {
        if (at < dir.size() && dir[at] != '/') continue;
        const std::string part = dir.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            why = "cannot create " + part + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

template <class T> bool readArray(std::FILE* f, T* to, std::uint64_t count, XXH3_state_t* sum) {
    const std::size_t bytes = static_cast<std::size_t>(count) * sizeof(T);
    // In pieces, each summed while it is still in the processor's cache.
    char* at = reinterpret_cast<char*>(to);
    for (std::size_t done = 0; done < bytes;) {
        const std::size_t piece = std::min<std::size_t>(bytes - done, std::size_t(1) << 20);
        if (std::fread(at + done, 1, piece, f) != piece) return false;
        XXH3_64bits_update(sum, at + done, piece);
        done += piece;
    }
    return true;
}

template <class T> bool writeArray(std::FILE* f, const T* from, std::size_t count, XXH3_state_t* sum) {
    const std::size_t bytes = count * sizeof(T);
    if (bytes == 0) return true;
    XXH3_64bits_update(sum, from, bytes);
    return std::fwrite(from, 1, bytes, f) == bytes;
}

} // namespace

std::string defaultMeshCacheFolder() {
    if (const char* e = std::getenv("VEXLAR_MESH_CACHE")) {
        const std::string v = e;
        return (v == "off" || v.empty()) ? std::string() : v;
    }
    if (const char* x = std::getenv("XDG_CACHE_HOME"))
        if (*x == '/') return std::string(x) + "/vexlar/meshes";
    if (const char* h = std::getenv("HOME"))
        if (*h == '/') return std::string(h) + "/.cache/vexlar/meshes";
    return std::string();
}

bool meshCacheKey(const std::string& meshPath, const matrix4x4_t& placement,
                  std::array<std::uint64_t, 2>& key) {
    std::FILE* f = std::fopen(meshPath.c_str(), "rb");
    if (f == nullptr) return false;
    XXH3_state_t* state = XXH3_createState();
    XXH3_128bits_reset(state);
    XXH3_128bits_update(state, magic, sizeof magic);
    XXH3_128bits_update(state, &formatVersion, sizeof formatVersion);
    float m[16];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) m[4 * r + c] = placement[r][c];
    XXH3_128bits_update(state, m, sizeof m);
    std::vector<char> buffer(1 << 16);
    std::size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), f)) > 0)
        XXH3_128bits_update(state, buffer.data(), got);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    const XXH128_hash_t h = XXH3_128bits_digest(state);
    XXH3_freeState(state);
    key = {h.low64, h.high64};
    return ok;
}

bool readMeshCache(const meshCacheSettings_t& settings, const std::array<std::uint64_t, 2>& key,
                   meshCacheEntry_t& entry, std::string& why) {
    why.clear();
    if (settings.folder.empty()) return false;
    const std::string path = entryPath(settings, key);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    struct stat st;
    header_t h;
    bool ok = fstat(fileno(f), &st) == 0 && std::fread(&h, 1, sizeof h, f) == sizeof h;
    ok = ok && std::memcmp(h.magic, magic, sizeof magic) == 0 && h.version == formatVersion &&
         h.headerBytes == sizeof h && h.key[0] == key[0] && h.key[1] == key[1];
    // Sizes: each count limited so that the sum cannot wrap, then the file
    // must hold exactly what the header announces.
    const std::uint64_t limit = std::uint64_t(1) << 34;
    ok = ok && h.vertices < limit && h.faces < limit && h.uvFloats < limit && h.nodes < limit &&
         h.items < limit && h.noteBytes < (std::uint64_t(1) << 24) && h.namesMaterials <= 1 &&
         h.vertices <= 0x7fffffffu && (h.uvFloats == 0 || h.uvFloats == 6 * h.faces);
    const std::uint64_t expected =
        sizeof h + 12 * h.vertices + 12 * h.faces + 4 * h.uvFloats + 8 * h.nodes + 4 * h.items + h.noteBytes;
    ok = ok && static_cast<std::uint64_t>(st.st_size) == expected;
    if (!ok) {
        std::fclose(f);
        why = "not a usable cache entry (foreign, truncated or of another version): " + path;
        return false;
    }
    meshCacheEntry_t e;
    e.data.vertices.resize(h.vertices);
    // Faces are stored as three 32-bit indices, the layout of the array
    // they are read into; each is checked below.
    static_assert(sizeof(std::array<int, 3>) == 3 * sizeof(std::uint32_t), "face layout");
    e.data.faces.resize(h.faces);
    e.data.faceUV.resize(h.uvFloats);
    e.tree.nodes.resize(h.nodes);
    e.tree.items.resize(h.items);
    std::string warnings(h.noteBytes, '\0');
    XXH3_state_t* sum = XXH3_createState();
    XXH3_64bits_reset(sum);
    ok = readArray(f, e.data.vertices.data(), h.vertices, sum) &&
         readArray(f, e.data.faces.data(), h.faces, sum) &&
         readArray(f, e.data.faceUV.data(), h.uvFloats, sum) &&
         readArray(f, e.tree.nodes.data(), h.nodes, sum) && readArray(f, e.tree.items.data(), h.items, sum) &&
         readArray(f, &warnings[0], h.noteBytes, sum);
    ok = ok && XXH3_64bits_digest(sum) == h.checksum && decodeWarnings(warnings, e.notes.warnings);
    XXH3_freeState(sum);
    std::fclose(f);
    if (ok) {
        // Read as unsigned, so that a negative index fails the test too.
        for (const std::array<int, 3>& t : e.data.faces)
            ok = ok && static_cast<std::uint32_t>(t[0]) < h.vertices &&
                 static_cast<std::uint32_t>(t[1]) < h.vertices &&
                 static_cast<std::uint32_t>(t[2]) < h.vertices;
        for (std::size_t i = 0; ok && i < e.tree.items.size(); ++i) ok = e.tree.items[i] < h.faces;
    }
    if (!ok) {
        why = "damaged cache entry (checksum or indices): " + path;
        return false;
    }
    e.tree.depth = h.depth;
    e.tree.avgDepth = h.avgDepth;
    e.tree.avgSize = h.avgSize;
    e.notes.smoothLine = h.smoothLine;
    e.notes.namesMaterials = h.namesMaterials != 0;
    entry = std::move(e);
    return true;
}

bool writeMeshCache(const meshCacheSettings_t& settings, const std::array<std::uint64_t, 2>& key,
                    const meshData_t& data, const meshTree_t& tree, const meshFileNotes_t& notes,
                    std::string& why) {
    if (settings.folder.empty()) return true;
    if (!makeFolders(settings.folder, why)) return false;
    const std::string path = entryPath(settings, key);
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(&temp[0]);
    if (fd >= 0) fchmod(fd, 0644);
    if (fd < 0) {
        why = "cannot write in " + settings.folder + ": " + std::strerror(errno);
        return false;
    }
    std::FILE* f = fdopen(fd, "wb");
    if (f == nullptr) {
        close(fd);
        unlink(temp.c_str());
        why = "cannot write " + temp;
        return false;
    }
    header_t h{};
    std::memcpy(h.magic, magic, sizeof magic);
    h.version = formatVersion;
    h.headerBytes = sizeof h;
    h.key[0] = key[0];
    h.key[1] = key[1];
    h.vertices = data.vertices.size();
    h.faces = data.faces.size();
    h.uvFloats = data.faceUV.size();
    h.nodes = tree.nodes.size();
    h.items = tree.items.size();
    h.depth = tree.depth;
    h.avgDepth = tree.avgDepth;
    h.avgSize = tree.avgSize;
    const std::string warnings = encodeWarnings(notes.warnings);
    h.namesMaterials = notes.namesMaterials ? 1 : 0;
    h.smoothLine = notes.smoothLine;
    h.noteBytes = warnings.size();
    std::vector<std::uint32_t> faces;
    faces.reserve(3 * data.faces.size());
    for (const auto& t : data.faces)
        for (int v : t) faces.push_back(static_cast<std::uint32_t>(v));
    XXH3_state_t* sum = XXH3_createState();
    XXH3_64bits_reset(sum);
    // The checksum is known after the arrays; the header is written last.
    bool ok = std::fseek(f, sizeof h, SEEK_SET) == 0 &&
              writeArray(f, data.vertices.data(), data.vertices.size(), sum) &&
              writeArray(f, faces.data(), faces.size(), sum) &&
              writeArray(f, data.faceUV.data(), data.faceUV.size(), sum) &&
              writeArray(f, tree.nodes.data(), tree.nodes.size(), sum) &&
              writeArray(f, tree.items.data(), tree.items.size(), sum) &&
              writeArray(f, warnings.data(), warnings.size(), sum);
    h.checksum = XXH3_64bits_digest(sum);
    XXH3_freeState(sum);
    ok = ok && std::fseek(f, 0, SEEK_SET) == 0 && std::fwrite(&h, 1, sizeof h, f) == sizeof h;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        why = "cannot write " + path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

} // namespace host
} // namespace vexlar
