// The statements of OBJ text that make a mesh (positions, texture
// coordinates, faces), read from large blocks with exactly the rules of
// tinyobjloader's callback reader, which the whole-file reader shares: the
// same lines ('\n', '\r' or "\r\n" end one; a NUL ends its text), the same
// words, numbers (its own decimal conversion, not strtod's) and face
// corners, so that a mesh comes out bit for bit as that reader makes it, at a
// fraction of its cost (no std::string per line, no stream per number).
#ifndef VEXLAR_HOST_OBJSTREAM_H
#define VEXLAR_HOST_OBJSTREAM_H

#include <cstddef>
#include <istream>

namespace vexlar {
namespace host {

/// One face corner as written: 1-based or negative (from the end) indices,
/// 0 where the corner gives none.
struct objCorner_t {
    int vertex = 0;
    int texcoord = 0;
    int normal = 0;
};

/// What the reader hands over, statement by statement.
class objSink_t {
public:
    virtual ~objSink_t() = default;
    /// "v x y z": missing or unreadable numbers are 0.
    virtual void vertex(float x, float y, float z) = 0;
    /// "vt u v": likewise.
    virtual void texcoord(float u, float v) = 0;
    /// "f ...": `count` >= 1 corners.
    virtual void face(const objCorner_t* corners, std::size_t count) = 0;
};

/// Reads `in` from where it stands to its end (through its buffer, in large
/// blocks), handing every vertex, texture coordinate and face to `sink`.
/// Every other statement is skipped, as the callback reader skips it with
/// no material reader.
void readObjStatements(std::istream& in, objSink_t& sink);

/// The same for the `size` characters at `text`.
void readObjStatements(const char* text, std::size_t size, objSink_t& sink);

/// The number conversion of that reader on [begin, end): false (and
/// `*value` untouched) when the text does not start like a number.
bool objReaderDouble(const char* begin, const char* end, double* value);

} // namespace host
} // namespace vexlar

#endif
