// libFuzzer target for the mesh cache's entries as the program reads them:
// the input is the entry file found under a fixed key. An entry the reader
// accepts must hold only faces that name its vertices and leaves that name
// its faces, and the mesh built from it either takes its tree (which the
// mesh checks again) or builds its own; rays through either must be safe.
#include "fuzz_support.h"
#include "host/meshcache.h"
#include "vexlarcore/renderstate.h"

#include <cstdlib>
#include <memory>

namespace {

const std::array<std::uint64_t, 2> fuzzKey{0x0123456789abcdefull, 0xfedcba9876543210ull};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vexlar;
    using namespace vexlar::host;
    meshCacheSettings_t settings;
    settings.folder = fuzz::scratchDir();
    char name[48];
    std::snprintf(name, sizeof name, "/%016llx%016llx.vxmesh", static_cast<unsigned long long>(fuzzKey[0]),
                  static_cast<unsigned long long>(fuzzKey[1]));
    if (!fuzz::writeFile(settings.folder + name, data, size)) return 0;
    meshCacheEntry_t entry;
    std::string why;
    if (!readMeshCache(settings, fuzzKey, entry, why)) {
        if (size > 0 && why.empty()) std::abort(); // a file that is there but refused says why
        return 0;
    }
    for (const auto& f : entry.data.faces)
        for (int v : f)
            if (v < 0 || static_cast<std::size_t>(v) >= entry.data.vertices.size()) std::abort();
    for (std::uint32_t item : entry.tree.items)
        if (item >= entry.data.faces.size()) std::abort();
    matrix4x4_t m;
    m.identity();
    std::unique_ptr<meshObject_t> mesh(
        buildMesh(std::move(entry.data), m, -1, meshBuild_t{false, &entry.tree}));
    const bound_t box = mesh->getBound();
    const point3d_t mid = box.a + 0.5f * (box.g - box.a);
    renderState_t state;
    surfacePoint_t sp;
    for (const vector3d_t& ray : {vector3d_t(0, 0, -1), vector3d_t(0.3f, -0.5f, 0.8f)}) {
        const point3d_t from = mid - 100.0f * ray;
        mesh->shoot(state, sp, from, ray, false, -1);
        mesh->shoot(state, sp, from, ray, true, 1000);
    }
    return 0;
}
