// libFuzzer target for the OBJ reader: the same text is read as a whole and
// as a stream. Both must agree, and a mesh they accept must only refer to
// vertices it has.
#include "host/meshload.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

void checkMesh(const vexlar::host::meshData_t& m) {
    for (const auto& f : m.faces)
        for (int i : f)
            if (i < 0 || static_cast<std::size_t>(i) >= m.vertices.size()) std::abort();
    if (!m.faceUV.empty() && m.faceUV.size() != 6 * m.faces.size()) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    vexlar::host::meshData_t whole, streamed;
    std::string wholeError, streamError;
    const bool wholeOk = vexlar::host::parseObj(text, whole, wholeError);
    std::istringstream in(text);
    const bool streamOk = vexlar::host::parseObjStream(in, streamed, streamError);
    // A refusal always says why.
    if (!wholeOk && wholeError.empty()) std::abort();
    if (!streamOk && streamError.empty()) std::abort();
    if (wholeOk != streamOk) std::abort();
    if (wholeOk) {
        checkMesh(whole);
        if (whole.faces != streamed.faces || whole.vertices.size() != streamed.vertices.size() ||
            whole.faceUV.size() != streamed.faceUV.size())
            std::abort();
    }
    return 0;
}
