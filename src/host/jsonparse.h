// Reading a scene description's JSON text into a document in linear time.
//
// The document keeps members in file order; the JSON library's ordered
// objects look every new member up among the ones before it, which makes
// an object of n members take n^2 / 2 key comparisons (seconds for a scene
// of ten thousand objects). Here members are appended without that search:
// a repeated key is reported by the scene reader's own scan of the text
// (jsonPositions_t), with its place.
#ifndef VEXLAR_HOST_JSONPARSE_H
#define VEXLAR_HOST_JSONPARSE_H

#include <string>

#include "host/jsonread.h"

namespace vexlar {
namespace host {

/// Parses `text` (comments allowed). Throws the JSON library's parse_error
/// for a syntax error and its out_of_range for a number beyond a double, as
/// json::parse does.
json parseSceneJson(const std::string& text);

} // namespace host
} // namespace vexlar

#endif
