#include "host/jsonread.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <sstream>

#include "vexlarcore/plugin.h"

namespace vexlar {
namespace host {

std::string describeKind(const json& value) {
    switch (value.type()) {
    case json::value_t::null:
        return "null";
    case json::value_t::boolean:
        return "a boolean";
    case json::value_t::string:
        return "a string";
    case json::value_t::array:
        return "a list of " + std::to_string(value.size()) + " values";
    case json::value_t::object:
        return "an object";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
        return "a number";
    default:
        return "an unsupported value";
    }
}

std::string formatNumber(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) {
        if (!out.empty()) out += ", ";
        out += n;
    }
    return out;
}

float numberAt(const json& value, const jsonPath_t& at, const diagnostics_t& diag) {
    if (!value.is_number()) diag.fail(at, "expected a number, found " + describeKind(value));
    double d = value.get<double>();
    // Larger magnitudes would become infinities in single precision.
    if (!std::isfinite(d) || std::fabs(d) > FLT_MAX) diag.fail(at, "number out of range");
    return static_cast<float>(d);
}

point3d_t pointAt(const json& value, const jsonPath_t& at, const diagnostics_t& diag) {
    if (!value.is_array() || value.size() != 3)
        diag.fail(at, "expected [x, y, z], found " + describeKind(value));
    return point3d_t(numberAt(value[0], at / 0, diag), numberAt(value[1], at / 1, diag),
                     numberAt(value[2], at / 2, diag));
}

sectionReader_t::sectionReader_t(const json& object, jsonPath_t at, diagnostics_t& diag)
    : object(object), at(std::move(at)), diag(diag) {
    if (!object.is_object()) diag.fail(this->at, "expected an object { ... }, found " + describeKind(object));
}

bool sectionReader_t::has(const std::string& key) const {
    return object.contains(key);
}

const json* sectionReader_t::member(const std::string& key) {
    if (std::find(known.begin(), known.end(), key) == known.end()) known.push_back(key);
    auto it = object.find(key);
    if (it == object.end()) return nullptr;
    read.insert(key);
    return &*it;
}

void sectionReader_t::accept(const std::string& key) {
    member(key);
}

float sectionReader_t::number(const std::string& key, float def, float lo, float hi) {
    const json* v = member(key);
    if (!v) return def;
    float f = numberAt(*v, at / key, diag);
    if (f < lo || f > hi) {
        std::string range;
        if (lo > -3.4e38f && hi < 3.4e38f)
            range = "from " + formatNumber(lo) + " to " + formatNumber(hi);
        else if (lo > -3.4e38f)
            range = "of at least " + formatNumber(lo);
        else
            range = "of at most " + formatNumber(hi);
        diag.fail(at / key, "expected a number " + range + ", found " + v->dump());
    }
    return f;
}

float sectionReader_t::positive(const std::string& key, float def) {
    const json* v = member(key);
    if (!v) return def;
    float f = numberAt(*v, at / key, diag);
    if (!(f > 0.0f)) diag.fail(at / key, "expected a number greater than 0, found " + v->dump());
    return f;
}

int sectionReader_t::integer(const std::string& key, int def, int lo, int hi) {
    const json* v = member(key);
    if (!v) return def;
    double d = v->is_number() ? v->get<double>() : 0.5;
    if (!v->is_number() || std::floor(d) != d || d < lo || d > hi)
        diag.fail(at / key, "expected a whole number from " + std::to_string(lo) + " to " +
                                std::to_string(hi) + ", found " +
                                (v->is_number() ? v->dump() : describeKind(*v)));
    return static_cast<int>(d);
}

bool sectionReader_t::flag(const std::string& key, bool def) {
    const json* v = member(key);
    if (!v) return def;
    if (!v->is_boolean()) diag.fail(at / key, "expected true or false, found " + describeKind(*v));
    return v->get<bool>();
}

std::string sectionReader_t::text(const std::string& key, const std::string& def) {
    const json* v = member(key);
    if (!v) return def;
    if (!v->is_string()) diag.fail(at / key, "expected a string, found " + describeKind(*v));
    return v->get<std::string>();
}

std::string sectionReader_t::requiredText(const std::string& key) {
    if (!has(key)) diag.fail(at, "missing \"" + key + "\"");
    return text(key, "");
}

point3d_t sectionReader_t::point(const std::string& key, const point3d_t& def) {
    const json* v = member(key);
    if (!v) return def;
    return pointAt(*v, at / key, diag);
}

color_t sectionReader_t::colour(const std::string& key, const color_t& def) {
    const json* v = member(key);
    if (!v) return def;
    if (!v->is_array() || v->size() != 3)
        diag.fail(at / key, "expected a colour [r, g, b], found " + describeKind(*v));
    return color_t(numberAt((*v)[0], at / key / 0, diag), numberAt((*v)[1], at / key / 1, diag),
                   numberAt((*v)[2], at / key / 2, diag));
}

void sectionReader_t::finish() {
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (read.count(it.key())) continue;
        diag.warn(at / it.key(), "unknown setting, ignored (known here: " + joinNames(known) + ")");
    }
}

void fillParams(const json& object, const jsonPath_t& at, const diagnostics_t& diag,
                const std::set<std::string>& skip, paramMap_t& params) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        const std::string& key = it.key();
        if (skip.count(key)) continue;
        const json& v = it.value();
        const jsonPath_t here = at / key;
        if (v.is_boolean()) {
            params[key] = parameter_t(std::string(v.get<bool>() ? "on" : "off"));
        } else if (v.is_number()) {
            params[key] = parameter_t(numberAt(v, here, diag));
        } else if (v.is_string()) {
            params[key] = parameter_t(v.get<std::string>());
        } else if (v.is_array() && isColorKey(key) && (v.size() == 3 || v.size() == 4)) {
            float c[4] = {0, 0, 0, 1};
            for (std::size_t i = 0; i < v.size(); ++i) c[i] = numberAt(v[i], here / i, diag);
            params[key] = parameter_t(c[0], c[1], c[2], c[3]);
        } else if (v.is_array() && v.size() == 3 && !isColorKey(key)) {
            params[key] = parameter_t(pointAt(v, here, diag));
        } else {
            diag.fail(here, std::string("expected a number, a string, true/false, ") +
                                (isColorKey(key) ? "or a colour [r, g, b] or [r, g, b, a]"
                                                 : "or a point [x, y, z]") +
                                ", found " + describeKind(v));
        }
    }
}

} // namespace host
} // namespace vexlar
