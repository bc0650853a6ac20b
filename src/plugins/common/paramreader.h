// Reading plug-in settings with checks, shared by the standard plug-ins.
//
// Every read returns the setting when it is present, of the right kind and in
// range; otherwise it returns the default. A setting of the wrong kind or out
// of range is reported through pluginContext_t::warn, naming the setting, the
// problem and the default used instead, and is marked as read (so the host
// does not report it a second time as unused). An absent setting is silent.
//
// Header-only: each plug-in module compiles its own copy.
#ifndef VEXLAR_PLUGINS_PARAMREADER_H
#define VEXLAR_PLUGINS_PARAMREADER_H

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "vexlarcore/color.h"
#include "vexlarcore/params.h"
#include "vexlarcore/plugin.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {
namespace plugins {

/// An interval of accepted numbers; each end open or closed.
struct range_t {
    float lo = -std::numeric_limits<float>::infinity();
    float hi = std::numeric_limits<float>::infinity();
    bool loOpen = false;
    bool hiOpen = false;

    static range_t any() { return range_t(); }
    static range_t atLeast(float v) { return make(v, std::numeric_limits<float>::infinity(), false, false); }
    static range_t above(float v) { return make(v, std::numeric_limits<float>::infinity(), true, false); }
    static range_t between(float a, float b) { return make(a, b, false, false); }
    static range_t openBetween(float a, float b) { return make(a, b, true, true); }

    /// Finite and inside the interval.
    bool contains(float v) const {
        if (!std::isfinite(v)) return false;
        if (loOpen ? !(v > lo) : !(v >= lo)) return false;
        if (hiOpen ? !(v < hi) : !(v <= hi)) return false;
        return true;
    }
    /// "any finite number", "at least 0", "greater than 0", "[0, 1]", "(0, 90)"...
    std::string text() const;

private:
    static range_t make(float a, float b, bool ao, bool bo) {
        range_t r;
        r.lo = a;
        r.hi = b;
        r.loOpen = ao;
        r.hiOpen = bo;
        return r;
    }
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
    bool noLo = std::isinf(lo), noHi = std::isinf(hi);
    if (noLo && noHi) return "any finite number";
    if (noHi) return (loOpen ? "greater than " : "at least ") + numberText(lo);
    if (noLo) return (hiOpen ? "less than " : "at most ") + numberText(hi);
    return std::string(loOpen ? "(" : "[") + numberText(lo) + ", " + numberText(hi) + (hiOpen ? ")" : "]");
}

/// Checked reads from one paramMap_t on behalf of one object.
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
        switch (kind) {
        case parameter_t::FLOAT: {
            float f;
            params.getParam(name, f);
            break;
        }
        case parameter_t::STRING: {
            const std::string* s;
            params.getParam(name, s);
            break;
        }
        case parameter_t::POINT: {
            point3d_t p;
            params.getParam(name, p);
            break;
        }
        case parameter_t::COLOR: {
            colorA_t c;
            params.getParam(name, c);
            break;
        }
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

    void warnValue(const std::string& name, const std::string& value, const std::string& problem,
                   const std::string& defText) {
        context.warn("setting \"" + name + "\" = " + value + " " + problem + "; using " + defText);
    }

    paramMap_t& params;
    pluginContext_t& context;
};

} // namespace plugins
} // namespace vexlar

#endif
