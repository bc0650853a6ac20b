// The mesh cache: an entry round-trips a mesh and its tree exactly, and a
// truncated, damaged or foreign entry is refused (the mesh is then built).
#include "host/meshcache.h"

#include "importfixture.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <xxhash.h>

using namespace vexlar;
using namespace vexlar::host;

TEST(hostMeshCache, RoundTripsAndRefusesDamagedEntries) {
    support::tempDir_t dir;
    const std::string obj = support::gridObj(40, [](int i, int j) { return (i * j % 7) * 0.1; });
    const std::string path = dir.write("grid.obj", obj);
    matrix4x4_t m;
    m.identity();
    std::array<std::uint64_t, 2> key{}, other{};
    ASSERT_TRUE(meshCacheKey(path, m, key));
    matrix4x4_t moved = m;
    moved[0][3] = 1;
    ASSERT_TRUE(meshCacheKey(path, moved, other));
    EXPECT_NE(key, other); // the placement shapes the tree

    meshData_t data;
    std::string error;
    ASSERT_TRUE(parseObj(obj, data, error));
    const meshData_t original = data;
    std::unique_ptr<meshObject_t> built(buildMesh(std::move(data), m, -1, meshBuild_t()));
    meshCacheSettings_t settings;
    settings.folder = dir.path + "/cache";
    const meshFileNotes_t notes{{"line 2: \"o\" is ignored", ""}, 7, true};
    ASSERT_TRUE(writeMeshCache(settings, key, original, built->compactTree(), notes, error)) << error;

    meshCacheEntry_t entry;
    ASSERT_TRUE(readMeshCache(settings, key, entry, error)) << error;
    std::unique_ptr<meshObject_t> cached(
        buildMesh(std::move(entry.data), m, -1, meshBuild_t{false, &entry.tree}));
    EXPECT_TRUE(cached->treeWasPrebuilt());
    EXPECT_EQ(entry.notes.warnings, notes.warnings);
    EXPECT_EQ(entry.notes.smoothLine, 7u);
    EXPECT_TRUE(entry.notes.namesMaterials);
    const meshTree_t &a = built->compactTree(), &b = cached->compactTree();
    auto same = [](const auto& x, const auto& y) {
        return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(x[0])) == 0;
    };
    EXPECT_TRUE(same(a.nodes, b.nodes) && same(a.items, b.items) && same(a.records, b.records));

    // Another key finds nothing; a truncated, bit-flipped or overlong entry (the
    // folder's one file) is refused.
    EXPECT_FALSE(readMeshCache(settings, other, entry, error));
    EXPECT_EQ(error, "");
    const std::string entryFile = std::filesystem::directory_iterator(settings.folder)->path();
    const std::string whole = support::slurp(entryFile);
    ASSERT_GT(whole.size(), 100u);
    for (const std::string& damaged :
         {whole.substr(0, whole.size() / 2), whole.substr(0, 40),
          whole.substr(0, whole.size() - 1) + char(whole.back() ^ 1), whole + "tail"}) {
        std::ofstream(entryFile, std::ios::binary) << damaged;
        EXPECT_FALSE(readMeshCache(settings, key, entry, error));
        EXPECT_NE(error, "");
    }
    // A forged entry, its checksum recomputed, with a face naming a vertex
    // past the last: refused by the index check. (The header ends with the
    // checksum; its vertex count is at byte 32; the faces follow the vertices.)
    std::string forged = whole;
    std::uint32_t headerBytes, index;
    std::uint64_t vertices;
    std::memcpy(&headerBytes, &forged[12], 4);
    std::memcpy(&vertices, &forged[32], 8);
    index = static_cast<std::uint32_t>(vertices);
    std::memcpy(&forged[headerBytes + 12 * vertices], &index, 4);
    const std::uint64_t sum = XXH3_64bits(forged.data() + headerBytes, forged.size() - headerBytes);
    std::memcpy(&forged[headerBytes - 8], &sum, 8);
    std::ofstream(entryFile, std::ios::binary) << forged;
    EXPECT_FALSE(readMeshCache(settings, key, entry, error));
    EXPECT_TRUE(error.rfind("damaged cache entry (checksum or indices): ", 0) == 0) << error;
}
