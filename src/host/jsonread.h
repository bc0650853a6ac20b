// Typed reading of the members of one JSON object of a scene description,
// with messages that name the member's place, and the plug-in parameter
// rule (JSON values to paramMap_t entries).
#ifndef VEXLAR_HOST_JSONREAD_H
#define VEXLAR_HOST_JSONREAD_H

#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

#include "host/diagnostics.h"
#include "vexlarcore/color.h"
#include "vexlarcore/params.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {
namespace host {

/// Scene descriptions keep their members in file order.
using json = nlohmann::ordered_json;

/// A short description of a JSON value's kind for messages ("a string",
/// "an array of 2 elements", ...).
std::string describeKind(const json& value);

/// Reads the members of one object. Every read remembers the key; finish()
/// warns about each member that was never read. A member of the wrong kind
/// or out of range is an error (sceneError_t, see diagnostics_t::fail).
class sectionReader_t {
public:
    /// Fails unless `object` is a JSON object.
    sectionReader_t(const json& object, jsonPath_t at, diagnostics_t& diag);

    const jsonPath_t& path() const { return at; }
    diagnostics_t& diagnostics() const { return diag; }
    bool has(const std::string& key) const;
    /// The member (marked read), or null when absent.
    const json* member(const std::string& key);
    /// Marks a member as read without looking at it.
    void accept(const std::string& key);

    /// A finite number that fits a float, within [lo, hi].
    float number(const std::string& key, float def, float lo = -3.4e38f, float hi = 3.4e38f);
    /// A number greater than 0.
    float positive(const std::string& key, float def);
    /// A whole number within [lo, hi].
    int integer(const std::string& key, int def, int lo, int hi);
    bool flag(const std::string& key, bool def);
    std::string text(const std::string& key, const std::string& def);
    /// A string that must be present.
    std::string requiredText(const std::string& key);
    /// [x, y, z].
    point3d_t point(const std::string& key, const point3d_t& def);
    /// [r, g, b] with finite components.
    color_t colour(const std::string& key, const color_t& def);

    /// Warns about every member never read, listing the keys that were asked for.
    void finish();

private:
    const json& object;
    jsonPath_t at;
    diagnostics_t& diag;
    std::set<std::string> read;
    std::vector<std::string> known;
};

/// A finite number of `value` that fits a float, or an error at `at`.
float numberAt(const json& value, const jsonPath_t& at, const diagnostics_t& diag);
/// [x, y, z] of `value`, or an error at `at`.
point3d_t pointAt(const json& value, const jsonPath_t& at, const diagnostics_t& diag);

/// Fills `params` from the members of `object` (except those in `skip`)
/// by the plug-in parameter rule: a number becomes a float, a string a
/// string, a boolean "on" or "off", a list of 3 or 4 numbers under a colour
/// key (isColorKey) a colour (alpha 1 for 3), any other list of 3 numbers a
/// point. Anything else is an error naming the member.
void fillParams(const json& object, const jsonPath_t& at, const diagnostics_t& diag,
                const std::set<std::string>& skip, paramMap_t& params);

/// A number the way people write it ("0.05", "1e-05") for messages.
std::string formatNumber(double v);

/// "a, b, c" for messages.
std::string joinNames(const std::vector<std::string>& names);

} // namespace host
} // namespace vexlar

#endif
