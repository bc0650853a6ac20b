// Typed, string-keyed settings for plug-ins.
//
// The host fills a paramMap_t with one parameter_t per attribute of a scene
// description and hands it to a plug-in's factory. The plug-in asks for each
// setting it understands by name and type; every successful read marks the
// entry as used, so the host can afterwards warn about the attributes nobody
// consumed (checkUnused).
//
// A read of a missing name, or of a name holding another kind of value, is
// not an error: it returns false and leaves the output untouched, so the
// plug-in keeps its default.
//
// Not thread-safe: a map is filled and read by one thread at a time.
#ifndef VEXLARCORE_PARAMS_H
#define VEXLARCORE_PARAMS_H

#include <map>
#include <string>

#include "vexlarcore/color.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {

/// One setting: a float, a string, a point or a colour with alpha.
class parameter_t {
public:
    /// Kind tags stored in `kind`.
    enum { NONE = -1, FLOAT = 0, STRING = 1, POINT = 2, COLOR = 3 };

    /// A string setting (kind 1).
    parameter_t(const std::string& s);
    /// A float setting (kind 0).
    parameter_t(float f);
    /// A point setting (kind 2).
    parameter_t(const point3d_t& p);
    /// A colour setting (kind 3): R, G, B, A.
    parameter_t(float r, float g, float b, float a);
    /// An empty entry (kind -1), as inserted by paramMap_t::operator[].
    parameter_t();
    /// Copies the kind, the used flag and the value field of that kind only;
    /// the other value fields are zero (and the string empty).
    parameter_t(const parameter_t& other);
    /// Same rule as the copy constructor.
    parameter_t& operator=(const parameter_t& other);

    int kind;         ///< -1 none, 0 float, 1 string, 2 point, 3 colour
    bool used;        ///< set by the first successful typed read
    std::string text; ///< value of a string setting
    float number;     ///< value of a float setting
    point3d_t point;  ///< value of a point setting
    colorA_t colour;  ///< value of a colour setting
};

/// The settings of one plug-in instance, ordered by name (bytewise).
///
/// Every typed read asks `includes(name, kind)` through the virtual table
/// first, so a derived map that overrides `includes` decides which reads
/// succeed. A successful read marks the entry used; a failed one changes
/// nothing (except the boolean read, see below).
class paramMap_t {
public:
    paramMap_t() = default;
    paramMap_t(const paramMap_t&) = default;
    paramMap_t& operator=(const paramMap_t&) = default;

    /// String (kind 1): s points at the stored string, valid while the entry lives.
    virtual bool getParam(const std::string& name, const std::string*& s);
    /// String (kind 1) holding exactly "on" (true) or "off" (false). Any other
    /// text returns false and leaves b alone, but the entry is still marked used.
    virtual bool getParam(const std::string& name, bool& b);
    /// Float (kind 0).
    virtual bool getParam(const std::string& name, float& f);
    /// Float (kind 0), widened to double.
    virtual bool getParam(const std::string& name, double& d);
    /// Float (kind 0), converted to int by truncation toward zero. A value
    /// outside the int range (or NaN) is refused: false, entry left unused.
    virtual bool getParam(const std::string& name, int& i);
    /// Point (kind 2).
    virtual bool getParam(const std::string& name, point3d_t& p);
    /// Colour (kind 3): R, G, B only; the alpha is not delivered.
    virtual bool getParam(const std::string& name, color_t& col);
    /// Colour (kind 3) with alpha.
    virtual bool getParam(const std::string& name, colorA_t& col);
    /// True when an entry of that name exists and holds that kind. Never marks anything.
    virtual bool includes(const std::string& name, int kind) const;
    /// Writes "[WARNING]:Unused param <name> in <env>\n" to standard output
    /// for every entry not yet read, in name order.
    virtual void checkUnused(const std::string& env) const;
    /// The entry of that name, inserting an empty one (kind -1) if absent.
    virtual parameter_t& operator[](const std::string& name);
    /// Removes all entries.
    virtual void clear();
    /// Declared last so that it takes the last virtual table slots.
    virtual ~paramMap_t();

    /// Read-only view of all entries, in name order (for hosts that report
    /// or list settings themselves).
    const std::map<std::string, parameter_t>& entries() const { return dicc; }

protected:
    /// Marks the entry used and returns it; only called after includes() agreed.
    /// Returns null if a derived includes() accepted a name the map lacks.
    parameter_t* markUsed(const std::string& name);

    std::map<std::string, parameter_t> dicc;
};

} // namespace vexlar

#endif
