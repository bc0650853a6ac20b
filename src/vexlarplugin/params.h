// Plug-in settings declared once.
//
// Each setting of a plug-in is declared exactly once, with its name, kind,
// default, accepted values and meaning. That one declaration both reads the
// setting from the paramMap_t a factory receives (with the checks below) and
// gives the row that hosts list for users (`vexlar --list-plugins`), so the
// listed default is always the one the factory uses.
//
//     struct toonSettings_t {
//         vexlar::color_t color;
//         int bands;
//     };
//     const vexlar::plugins::paramTable_t<toonSettings_t> toonParams{
//         vexlar::plugins::color("color", &toonSettings_t::color, vexlar::color_t(1, 0.5f, 0), "lit colour"),
//         vexlar::plugins::integer("bands", &toonSettings_t::bands, 3, vexlar::plugins::range_t::between(1,
//         16),
//                                  "number of tones"),
//     };
//     ... in the factory:       toonSettings_t s = toonParams.read(params, context);
//     ... in registerAll:       registry.registerShader("toon", make, toonParams.rows(), "...");
//
// Reading, for every kind: an absent setting gives its default silently. A
// setting of the wrong kind, or out of range, or not one of the choices, is
// reported through pluginContext_t::warn ("setting "power" = -3 is out of
// range (at least 0); using 1"), replaced by the default and marked as read,
// so the host does not report it a second time as unused. Settings are read
// in declaration order, so a default computed from other settings
// (derivedDefault, sameAs) sees the ones declared before it.
//
// Rows: the kind is one of "float", "int", "bool", "string", "point" and
// "color"; the default is written as a user would write it; the declared
// range or choices are appended to the meaning in parentheses, e.g.
// "number of tones (1 to 16)". A setting without a default is listed as
// required; the factory decides what its absence means.
//
// Header-only and self-contained: every plug-in module compiles its own
// copy; nothing here is part of libvexlarcore's binary interface. Tables are
// immutable after construction and may be shared by all threads.
#ifndef VEXLARPLUGIN_PARAMS_H
#define VEXLARPLUGIN_PARAMS_H

#include <cmath>
#include <functional>
#include <initializer_list>
#include <limits>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "vexlarcore/color.h"
#include "vexlarcore/params.h"
#include "vexlarcore/plugin.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {
namespace plugins {

/// An interval of accepted numbers; each end open or closed. Non-finite
/// numbers are never accepted.
struct range_t {
    float lo = -std::numeric_limits<float>::infinity();
    float hi = std::numeric_limits<float>::infinity();
    bool loOpen = false;
    bool hiOpen = false;

    static range_t any() { return range_t(); }
    static range_t atLeast(float v) { return {v, std::numeric_limits<float>::infinity(), false, false}; }
    static range_t above(float v) { return {v, std::numeric_limits<float>::infinity(), true, false}; }
    static range_t between(float a, float b) { return {a, b, false, false}; }

    bool isAny() const { return std::isinf(lo) && std::isinf(hi); }
    /// Finite and inside the interval.
    bool contains(float v) const {
        if (!std::isfinite(v)) return false;
        if (loOpen ? !(v > lo) : !(v >= lo)) return false;
        if (hiOpen ? !(v < hi) : !(v <= hi)) return false;
        return true;
    }
    /// "any finite number", "at least 0", "greater than 0", "0 to 16",
    /// "greater than 0, at most 90".
    std::string text() const;
};

/// Shortest plain text of a number ("1", "0.5", "1e+06").
inline std::string numberText(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

inline std::string colorText(const color_t& c) {
    return numberText(c.R) + " " + numberText(c.G) + " " + numberText(c.B);
}

inline std::string pointText(const point3d_t& p) {
    return numberText(p.x) + " " + numberText(p.y) + " " + numberText(p.z);
}

inline std::string range_t::text() const {
    const bool noLo = std::isinf(lo), noHi = std::isinf(hi);
    if (noLo && noHi) return "any finite number";
    const std::string low = (loOpen ? "greater than " : "at least ") + numberText(lo);
    const std::string high = (hiOpen ? "less than " : "at most ") + numberText(hi);
    if (noHi) return low;
    if (noLo) return high;
    if (!loOpen && !hiOpen) return numberText(lo) + " to " + numberText(hi);
    return low + ", " + high;
}

/// Checked reads from one paramMap_t on behalf of one object, with the
/// reporting rules at the top of this file. The declarations below use it;
/// a plug-in may also call it directly for settings whose names it forms at
/// run time. Valid while the map and the context are.
class paramReader_t {
public:
    paramReader_t(paramMap_t& params, pluginContext_t& context) : params(params), context(context) {}

    /// True when the setting is present, of any kind.
    bool has(const std::string& name) const { return presentKind(name) != parameter_t::NONE; }

    float getFloat(const std::string& name, float def, range_t range = range_t::any()) {
        if (!expectKind(name, parameter_t::FLOAT, "a number", numberText(def))) return def;
        float v = def;
        params.getParam(name, v);
        if (!range.contains(v)) {
            warnValue(name, numberText(v), "is out of range (" + range.text() + ")", numberText(def));
            return def;
        }
        return v;
    }

    /// A whole number (the scene gives it as a float).
    int getInt(const std::string& name, int def, range_t range = range_t::any()) {
        if (!expectKind(name, parameter_t::FLOAT, "a whole number", numberText(def))) return def;
        float v = static_cast<float>(def);
        params.getParam(name, v);
        if (!std::isfinite(v) || v != std::floor(v)) {
            warnValue(name, numberText(v), "is not a whole number", numberText(def));
            return def;
        }
        // Beyond the int range the conversion would be undefined.
        if (!range.contains(v) || v >= 2147483648.0f || v < -2147483648.0f) {
            warnValue(name, numberText(v), "is out of range (" + range.text() + ")", numberText(def));
            return def;
        }
        return static_cast<int>(v);
    }

    /// "on" or "off".
    bool getBool(const std::string& name, bool def) {
        const char* defText = def ? "on" : "off";
        if (!expectKind(name, parameter_t::STRING, "\"on\" or \"off\"", defText)) return def;
        bool b = def;
        if (!params.getParam(name, b)) {
            // The map has marked it used already; only the warning remains.
            const std::string* text = nullptr;
            params.getParam(name, text);
            warnValue(name, "\"" + (text ? *text : std::string()) + "\"", "should be \"on\" or \"off\"",
                      defText);
            return def;
        }
        return b;
    }

    std::string getString(const std::string& name, const std::string& def) {
        if (!expectKind(name, parameter_t::STRING, "a string", "\"" + def + "\"")) return def;
        const std::string* s = nullptr;
        params.getParam(name, s);
        return s ? *s : def;
    }

    /// One of `choices` (exact spelling); returns its index, or `def` (an
    /// index) when absent or unknown.
    int getChoice(const std::string& name, const std::vector<std::string>& choices, int def) {
        const std::string defText = "\"" + choices[static_cast<std::size_t>(def)] + "\"";
        if (!expectKind(name, parameter_t::STRING, "a string", defText)) return def;
        const std::string* s = nullptr;
        params.getParam(name, s);
        for (std::size_t i = 0; i < choices.size(); ++i)
            if (s && *s == choices[i]) return static_cast<int>(i);
        std::string known;
        for (const std::string& c : choices) known += (known.empty() ? "\"" : ", \"") + c + "\"";
        warnValue(name, "\"" + (s ? *s : std::string()) + "\"", "is not one of " + known, defText);
        return def;
    }

    point3d_t getPoint(const std::string& name, const point3d_t& def) {
        if (!expectKind(name, parameter_t::POINT, "a point (three numbers)", pointText(def))) return def;
        point3d_t p = def;
        params.getParam(name, p);
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            warnValue(name, pointText(p), "is not finite", pointText(def));
            return def;
        }
        return p;
    }

    /// A direction given as a point; must not be zero. Returned normalised.
    vector3d_t getDirection(const std::string& name, const vector3d_t& def) {
        point3d_t defPoint(def.x, def.y, def.z);
        point3d_t p = getPoint(name, defPoint);
        vector3d_t d(p.x, p.y, p.z);
        if (d.lengthSqr() == 0.0f || !std::isfinite(d.lengthSqr())) {
            warnValue(name, pointText(p), "is not a usable direction", pointText(defPoint));
            d = def;
        }
        return d.normalize();
    }

    /// A colour; channels must be finite and, unless `allowNegative`, not
    /// negative. The alpha of the setting is ignored.
    color_t getColor(const std::string& name, const color_t& def, bool allowNegative = false) {
        if (!expectKind(name, parameter_t::COLOR, "a colour", colorText(def))) return def;
        color_t c = def;
        params.getParam(name, c);
        const float ch[3] = {c.R, c.G, c.B};
        for (float v : ch) {
            if (!std::isfinite(v) || (!allowNegative && v < 0.0f)) {
                warnValue(name, colorText(c),
                          allowNegative ? "is not finite" : "has a negative or non-finite channel",
                          colorText(def));
                return def;
            }
        }
        return c;
    }

    /// Reports a problem of the object being built.
    void warn(const std::string& message) { context.warn(message); }

    /// "setting "<name>" = <value> <problem>; using <default>", the form of
    /// every value complaint.
    void warnValue(const std::string& name, const std::string& value, const std::string& problem,
                   const std::string& defText) {
        context.warn("setting \"" + name + "\" = " + value + " " + problem + "; using " + defText);
    }

    pluginContext_t& pluginContext() { return context; }

private:
    int presentKind(const std::string& name) const {
        for (int k = parameter_t::FLOAT; k <= parameter_t::COLOR; ++k)
            if (params.includes(name, k)) return k;
        return parameter_t::NONE;
    }

    static const char* kindText(int kind) {
        switch (kind) {
        case parameter_t::FLOAT:
            return "a number";
        case parameter_t::STRING:
            return "a string";
        case parameter_t::POINT:
            return "a point";
        case parameter_t::COLOR:
            return "a colour";
        default:
            return "nothing";
        }
    }

    // Marks a setting read whatever its kind, so the host's unused-setting
    // check does not repeat a complaint already made here.
    void markRead(const std::string& name, int kind) {
        float f;
        const std::string* s;
        point3d_t p;
        colorA_t c;
        switch (kind) {
        case parameter_t::FLOAT:
            params.getParam(name, f);
            break;
        case parameter_t::STRING:
            params.getParam(name, s);
            break;
        case parameter_t::POINT:
            params.getParam(name, p);
            break;
        case parameter_t::COLOR:
            params.getParam(name, c);
            break;
        default:
            break;
        }
    }

    // True when the setting is present with the wanted kind; reports a
    // present setting of another kind.
    bool expectKind(const std::string& name, int kind, const std::string& wanted,
                    const std::string& defText) {
        int present = presentKind(name);
        if (present == kind) return true;
        if (present != parameter_t::NONE) {
            markRead(name, present);
            context.warn("setting \"" + name + "\" should be " + wanted + ", not " + kindText(present) +
                         "; using " + defText);
        }
        return false;
    }

    paramMap_t& params;
    pluginContext_t& context;
};

// ---------------------------------------------------------------- declarations

template <typename T> struct nondeducedType_t { using type = T; };
/// Keeps an argument out of template deduction (the settings type comes
/// from the field pointer alone).
template <typename T> using nondeduced_t = typename nondeducedType_t<T>::type;

/// A default value: a constant, or computed from the settings declared
/// before (derivedDefault, sameAs). Built implicitly from a constant.
template <typename S, typename T> struct defaultOf_t {
    defaultOf_t(const T& constant) : value(constant) {}
    defaultOf_t(std::string text, std::function<T(const S&)> compute)
        : value(), text(std::move(text)), compute(std::move(compute)) {}

    T at(const S& settings) const { return compute ? compute(settings) : value; }

    T value;                            ///< the constant, when there is no compute
    std::string text;                   ///< listed text of a computed default
    std::function<T(const S&)> compute; ///< empty for a constant
};

/// A default computed from earlier settings; `text` is what users see
/// listed, e.g. "from - (0 0 1)".
template <typename S, typename T>
defaultOf_t<S, T> derivedDefault(std::string text, std::function<T(const S&)> compute) {
    return defaultOf_t<S, T>(std::move(text), std::move(compute));
}

/// The value of another, earlier setting `otherName` (stored in `other`).
template <typename S, typename T> defaultOf_t<S, T> sameAs(const std::string& otherName, T S::*other) {
    return defaultOf_t<S, T>(otherName, [other](const S& s) { return s.*other; });
}

/// One declared setting of the settings record S: its listed row and how it
/// is read into S. Made by the functions below (number, integer, flag, ...).
template <typename S> struct paramDecl_t {
    using reader_t = std::function<void(paramReader_t&, const std::string& key, S&)>;
    using check_t = std::function<void(paramReader_t&, S&)>;

    paramDecl_t(pluginParam_t row, reader_t read) : row(std::move(row)), read(std::move(read)) {}
    /// A declaration of a base class B of S, used as one of S.
    template <typename B,
              typename = std::enable_if_t<std::is_base_of<B, S>::value && !std::is_same<B, S>::value>>
    paramDecl_t(const paramDecl_t<B>& base)
        : row(base.row), read([r = base.read](paramReader_t& reader, const std::string& key, S& s) {
              r(reader, key, static_cast<B&>(s));
          }) {}

    /// This declaration followed by a check of the settings read so far
    /// (for rules that tie settings together). The check may warn through
    /// the reader and repair the settings.
    paramDecl_t then(check_t check) const {
        paramDecl_t d = *this;
        d.read = [r = read, check](paramReader_t& reader, const std::string& key, S& s) {
            r(reader, key, s);
            check(reader, s);
        };
        return d;
    }

    pluginParam_t row; ///< name (without any prefix), kind, default text, meaning
    reader_t read;
};

template <typename S> class paramTable_t;

/// An element of a table's declaration list: one declaration, or all of
/// another table (of S or of a base class of S), spliced in place.
template <typename S> struct paramPart_t {
    template <typename B, typename = std::enable_if_t<std::is_base_of<B, S>::value>>
    paramPart_t(const paramDecl_t<B>& d) : decls{paramDecl_t<S>(d)} {}
    template <typename B, typename = std::enable_if_t<std::is_base_of<B, S>::value>>
    paramPart_t(const paramTable_t<B>& table) {
        for (const paramDecl_t<B>& d : table.declarations()) decls.push_back(paramDecl_t<S>(d));
    }
    std::vector<paramDecl_t<S>> decls;
};

/// The settings of one plug-in type (or of one repeated group of settings,
/// read under a prefix): a record S, value-initialised and then filled by
/// the declarations in order. S must be default-constructible; its fields
/// need no initialisers of their own, the declarations give the defaults.
template <typename S> class paramTable_t {
public:
    paramTable_t(std::initializer_list<paramPart_t<S>> parts) {
        for (const paramPart_t<S>& p : parts)
            for (const paramDecl_t<S>& d : p.decls) decls.push_back(d);
    }

    /// Reads every setting; the names in the map are `prefix` + the declared
    /// names ("layer1_" + "mode").
    S read(paramReader_t& reader, const std::string& prefix = std::string()) const {
        S s{};
        for (const paramDecl_t<S>& d : decls) d.read(reader, prefix + d.row.name, s);
        return s;
    }
    S read(paramMap_t& params, pluginContext_t& context) const {
        paramReader_t reader(params, context);
        return read(reader);
    }

    /// The rows hosts list, in declaration order, names prefixed by `prefix`
    /// ("layerN_" for a group repeated under numbered prefixes).
    std::vector<pluginParam_t> rows(const std::string& prefix = std::string()) const {
        std::vector<pluginParam_t> out;
        for (const paramDecl_t<S>& d : decls) {
            out.push_back(d.row);
            out.back().name = prefix + d.row.name;
        }
        return out;
    }

    /// True when any of the table's settings is present under `prefix`.
    bool anyPresent(const paramReader_t& reader, const std::string& prefix = std::string()) const {
        for (const paramDecl_t<S>& d : decls)
            if (reader.has(prefix + d.row.name)) return true;
        return false;
    }

    const std::vector<paramDecl_t<S>>& declarations() const { return decls; }

private:
    std::vector<paramDecl_t<S>> decls;
};

namespace detail {

inline std::string withNote(const std::string& meaning, const std::string& note) {
    return note.empty() ? meaning : meaning + " (" + note + ")";
}

inline std::string rangeNote(const range_t& range) {
    return range.isAny() ? std::string() : range.text();
}

inline std::string valueText(float v) {
    return numberText(v);
}
inline std::string valueText(int v) {
    return numberText(v);
}
inline std::string valueText(const color_t& c) {
    return colorText(c);
}
inline std::string valueText(const point3d_t& p) {
    return pointText(p);
}
inline std::string valueText(const vector3d_t& v) {
    return pointText(point3d_t(v.x, v.y, v.z));
}

// The listed text of a default: the constant as a user writes it, or the
// text of a computed default.
template <typename S, typename T> std::string defaultText(const defaultOf_t<S, T>& def) {
    return def.compute ? def.text : valueText(def.value);
}

} // namespace detail

/// A number ("float") within `range`.
template <typename S>
paramDecl_t<S> number(const std::string& name, float S::*field, nondeduced_t<defaultOf_t<S, float>> def,
                      range_t range, const std::string& meaning) {
    return {{name, "float", detail::defaultText(def), detail::withNote(meaning, detail::rangeNote(range))},
            [field, def, range](paramReader_t& r, const std::string& key, S& s) {
                s.*field = r.getFloat(key, def.at(s), range);
            }};
}

/// A number ("float"), any finite value.
template <typename S>
paramDecl_t<S> number(const std::string& name, float S::*field, nondeduced_t<defaultOf_t<S, float>> def,
                      const std::string& meaning) {
    return number(name, field, def, range_t::any(), meaning);
}

/// A whole number ("int") within `range`.
template <typename S>
paramDecl_t<S> integer(const std::string& name, int S::*field, nondeduced_t<defaultOf_t<S, int>> def,
                       range_t range, const std::string& meaning) {
    return {{name, "int", detail::defaultText(def), detail::withNote(meaning, detail::rangeNote(range))},
            [field, def, range](paramReader_t& r, const std::string& key, S& s) {
                s.*field = r.getInt(key, def.at(s), range);
            }};
}

/// A whole number ("int"), any value of an int.
template <typename S>
paramDecl_t<S> integer(const std::string& name, int S::*field, nondeduced_t<defaultOf_t<S, int>> def,
                       const std::string& meaning) {
    return integer(name, field, def, range_t::any(), meaning);
}

/// A switch ("bool"): the strings "on" and "off".
template <typename S>
paramDecl_t<S> flag(const std::string& name, bool S::*field, bool def, const std::string& meaning) {
    return {{name, "bool", def ? "on" : "off", meaning},
            [field, def](paramReader_t& r, const std::string& key, S& s) { s.*field = r.getBool(key, def); }};
}

/// A string with a default.
template <typename S>
paramDecl_t<S> text(const std::string& name, std::string S::*field, const std::string& def,
                    const std::string& meaning) {
    return {{name, "string", def, meaning}, [field, def](paramReader_t& r, const std::string& key, S& s) {
                s.*field = r.getString(key, def);
            }};
}

/// A required string: listed as required; the field stays empty when the
/// setting is absent (or not a string), and the factory decides what that
/// means.
template <typename S>
paramDecl_t<S> text(const std::string& name, std::string S::*field, const std::string& meaning) {
    return {{name, "string", "", meaning},
            [field](paramReader_t& r, const std::string& key, S& s) { s.*field = r.getString(key, ""); }};
}

/// A string parsed into T by `parse` (true when the text is acceptable);
/// `expected` says what is acceptable ("three letters from x, y, z and n").
/// The default is given as text and must parse.
template <typename S, typename T>
paramDecl_t<S> parsed(const std::string& name, T S::*field, const std::string& def,
                      nondeduced_t<std::function<bool(const std::string&, T&)>> parse,
                      const std::string& expected, const std::string& meaning) {
    return {{name, "string", def, detail::withNote(meaning, expected)},
            [field, def, parse, expected](paramReader_t& r, const std::string& key, S& s) {
                std::string t = r.getString(key, def);
                if (parse(t, s.*field)) return;
                r.warnValue(key, "\"" + t + "\"", "should be " + expected, "\"" + def + "\"");
                parse(def, s.*field);
            }};
}

/// One of a fixed set of strings, each standing for a value of T; `def` is
/// the name of the default choice.
template <typename S, typename T>
paramDecl_t<S> choice(const std::string& name, T S::*field, const std::string& def,
                      const std::vector<std::pair<std::string, nondeduced_t<T>>>& choices,
                      const std::string& meaning) {
    std::vector<std::string> names;
    std::vector<T> values;
    int defIndex = 0;
    std::string list;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        names.push_back(choices[i].first);
        values.push_back(choices[i].second);
        if (choices[i].first == def) defIndex = static_cast<int>(i);
        list += (i == 0 ? "" : (i + 1 == choices.size() ? " or " : ", ")) + ("\"" + choices[i].first + "\"");
    }
    return {{name, "string", names.at(static_cast<std::size_t>(defIndex)), detail::withNote(meaning, list)},
            [field, names, values, defIndex](paramReader_t& r, const std::string& key, S& s) {
                s.*field = values[static_cast<std::size_t>(r.getChoice(key, names, defIndex))];
            }};
}

/// A point ("point"), three finite numbers.
template <typename S>
paramDecl_t<S> point(const std::string& name, point3d_t S::*field,
                     nondeduced_t<defaultOf_t<S, point3d_t>> def, const std::string& meaning) {
    return {{name, "point", detail::defaultText(def), meaning},
            [field, def](paramReader_t& r, const std::string& key, S& s) {
                s.*field = r.getPoint(key, def.at(s));
            }};
}

/// A direction, given as a point of any length but zero; stored normalised.
template <typename S>
paramDecl_t<S> direction(const std::string& name, vector3d_t S::*field,
                         nondeduced_t<defaultOf_t<S, vector3d_t>> def, const std::string& meaning) {
    return {{name, "point", detail::defaultText(def), detail::withNote(meaning, "any length but zero")},
            [field, def](paramReader_t& r, const std::string& key, S& s) {
                s.*field = r.getDirection(key, def.at(s));
            }};
}

/// A colour ("color"): finite channels, none negative. Name colour
/// settings "color" or "..._color" (hosts turn a list of numbers into a
/// colour only under such names).
template <typename S>
paramDecl_t<S> color(const std::string& name, color_t S::*field, nondeduced_t<defaultOf_t<S, color_t>> def,
                     const std::string& meaning) {
    return {{name, "color", detail::defaultText(def), meaning},
            [field, def](paramReader_t& r, const std::string& key, S& s) {
                s.*field = r.getColor(key, def.at(s));
            }};
}

} // namespace plugins
} // namespace vexlar

#endif
