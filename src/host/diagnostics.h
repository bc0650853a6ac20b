// Places in a scene description and the messages that name them.
//
// A place is a JSON path ("shaders.glass.ior", "objects.floor.faces[3]").
// Messages name the scene file, the line and column where the value at that
// path starts in the text, and the path itself, in the form compilers use:
//
//     scene.json:12:13: error: shaders.glass.type: unknown shader type "glas" (known: constant, generic)
//
// Values that came from the command line (--set, --size, --region) are
// named by the option instead of a line and column.
#ifndef VEXLAR_HOST_DIAGNOSTICS_H
#define VEXLAR_HOST_DIAGNOSTICS_H

#include <cstddef>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexlar {
namespace host {

/// A JSON path: object keys and array indices from the root.
class jsonPath_t {
public:
    jsonPath_t() = default;
    /// The path one member further down.
    jsonPath_t operator/(const std::string& key) const;
    /// The path one array element further down.
    jsonPath_t operator/(std::size_t index) const;
    /// "shaders.glass.ior", "objects.floor.faces[3]"; "(top level)" for the root.
    std::string dotted() const;
    /// RFC 6901 form, "/shaders/glass/ior" ("" for the root).
    std::string pointer() const;
    bool empty() const { return steps.empty(); }

private:
    struct step_t {
        bool isIndex;
        std::string key;
        std::size_t index;
    };
    std::vector<step_t> steps;
};

/// Line and column (both from 1) of a position in a text; 0 when unknown.
struct textPos_t {
    int line = 0;
    int column = 0;
};

/// The line and column of byte `offset` of `text` (columns count bytes).
textPos_t positionOf(const std::string& text, std::size_t offset);

/// Something the JSON reader accepts or reports without a place that a
/// scene description must not contain: a key given twice in one object, a
/// number beyond the range of a double.
struct jsonFlaw_t {
    jsonPath_t at;
    textPos_t pos;
    std::string message;
};

/// Where every value of a JSON text starts, by RFC 6901 pointer.
class jsonPositions_t {
public:
    /// Indexes `text` (parse it first: the grammar is not checked); stops
    /// quietly at anything unexpected, leaving the rest unindexed. Records
    /// the flaws met on the way, in text order.
    void index(const std::string& text);
    const std::vector<jsonFlaw_t>& flaws() const { return found; }
    /// The position of the value at `pointer`, or of its nearest ancestor
    /// that has one; unknown (0, 0) when none has.
    textPos_t find(const std::string& pointer) const;
    /// Records that the value at `pointer` (and everything below it) was
    /// given by a command-line option, described by `origin` ("--set
    /// camera.focal=2").
    void markOverride(const std::string& pointer, const std::string& origin);
    /// The option that gave the value at `pointer` or one of its ancestors,
    /// or "" when it came from the text.
    std::string overrideOf(const std::string& pointer) const;

private:
    std::map<std::string, textPos_t> positions;
    std::map<std::string, std::string> overrides;
    std::vector<jsonFlaw_t> found;
};

/// A fault of the scene description or of the files it names, with the
/// complete one-line message.
class sceneError_t : public std::runtime_error {
public:
    explicit sceneError_t(const std::string& message) : std::runtime_error(message) {}
};

/// Formats and collects the messages about one scene description.
class diagnostics_t {
public:
    /// `label` names the description in messages (the file name as given,
    /// or "built-in demo scene"). `positions` may be null (no lines known);
    /// it must outlive this object.
    diagnostics_t(std::string label, const jsonPositions_t* positions);

    /// "label:line:col: " (or "label: " or "--set ...: ") for a place.
    std::string place(const jsonPath_t& at) const;
    /// "<place>error: <path>: <message>".
    std::string errorText(const jsonPath_t& at, const std::string& message) const;
    /// Throws sceneError_t with errorText(at, message).
    [[noreturn]] void fail(const jsonPath_t& at, const std::string& message) const;
    /// Keeps "<place>warning: <path>: <message>".
    void warn(const jsonPath_t& at, const std::string& message);
    /// Throws sceneError_t with "<label>: error: <message>" (no place).
    [[noreturn]] void failFile(const std::string& message) const;

    const std::vector<std::string>& warnings() const { return kept; }
    const std::string& label() const { return name; }

private:
    std::string name;
    const jsonPositions_t* positions;
    std::vector<std::string> kept;
};

} // namespace host
} // namespace vexlar

#endif
