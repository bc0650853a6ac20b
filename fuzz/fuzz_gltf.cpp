// libFuzzer target for the glTF importer: every input is read as a .gltf or
// .glb file (from memory; external URIs resolve against an empty folder).
// Any out-of-bounds access or leak is reported by the address sanitizer; a
// successful import must describe consistent meshes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/gltfimport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vexlar::host;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    gltfImportOptions_t options;
    options.baseDir = "/nonexistent-vexlar-fuzz";
    gltfScene_t scene;
    std::string error;
    if (!importGltf(bytes, options, scene, error)) {
        if (error.empty()) std::abort(); // every failure has a reason
        return 0;
    }
    for (const gltfMesh_t& m : scene.meshes) {
        const std::size_t nf = m.data.faces.size(), nv = m.data.vertices.size();
        for (const auto& f : m.data.faces)
            for (int v : f)
                if (v < 0 || static_cast<std::size_t>(v) >= nv) std::abort();
        if (!m.extras.cornerNormals.empty() && m.extras.cornerNormals.size() != 3 * nf) std::abort();
        if (!m.data.faceUV.empty() && m.data.faceUV.size() != 6 * nf) std::abort();
        for (int s : m.extras.faceShader)
            if (s < 0 || static_cast<std::size_t>(s) >= m.shaderNames.size()) std::abort();
    }
    for (const gltfPlacement_t& p : scene.placements)
        if (p.mesh >= scene.meshes.size()) std::abort();
    return 0;
}
