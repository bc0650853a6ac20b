// A check of the indices of an OBJ text before it is parsed: the OBJ reader
// turns an index too large for an int into an arbitrary number (a face of
// "f 1 2 99999999999999999999" would silently use some other vertex).
#ifndef VEXLAR_HOST_OBJCHECK_H
#define VEXLAR_HOST_OBJCHECK_H

#include <cstddef>
#include <istream>
#include <string>

namespace vexlar {
namespace host {

/// "" when every index of the face, line and point statements ("f", "l",
/// "p") of `in` fits an int; otherwise the reason, naming the line. Reads
/// `in` to its end (in large blocks, up to the first fault) and rewinds it
/// to the start. With
/// `maxCorners`, also gives the largest number of corners of a face.
std::string objIndexFault(std::istream& in, std::size_t* maxCorners = nullptr);

} // namespace host
} // namespace vexlar

#endif
