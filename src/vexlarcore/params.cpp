#include "vexlarcore/params.h"

#include <cmath>

#include "vexlarcore/messages.h"

namespace vexlar {

parameter_t::parameter_t(const std::string& s) : kind(STRING), used(false), text(s), number(0) {}

parameter_t::parameter_t(float f) : kind(FLOAT), used(false), number(f) {}

parameter_t::parameter_t(const point3d_t& p) : kind(POINT), used(false), number(0), point(p) {}

parameter_t::parameter_t(float r, float g, float b, float a)
    : kind(COLOR), used(false), number(0), colour(r, g, b, a) {}

parameter_t::parameter_t() : kind(NONE), used(false), number(0) {}

parameter_t::parameter_t(const parameter_t& other) : kind(NONE), used(false), number(0) {
    *this = other;
}

parameter_t& parameter_t::operator=(const parameter_t& other) {
    if (this == &other) return *this;
    kind = other.kind;
    used = other.used;
    // Only the field of the kind carries meaning; the others are reset so a
    // copy never drags along stale values of a previous kind.
    text = (kind == STRING) ? other.text : std::string();
    number = (kind == FLOAT) ? other.number : 0.0f;
    point = (kind == POINT) ? other.point : point3d_t(0, 0, 0);
    colour = (kind == COLOR) ? other.colour : colorA_t(0, 0, 0, 0);
    return *this;
}

paramMap_t::~paramMap_t() {}

parameter_t* paramMap_t::markUsed(const std::string& name) {
    auto it = dicc.find(name);
    if (it == dicc.end()) return nullptr;
    it->second.used = true;
    return &it->second;
}

bool paramMap_t::getParam(const std::string& name, const std::string*& s) {
    if (!includes(name, parameter_t::STRING)) return false;
    parameter_t* p = markUsed(name);
    if (!p) return false;
    s = &p->text;
    return true;
}

bool paramMap_t::getParam(const std::string& name, bool& b) {
    if (!includes(name, parameter_t::STRING)) return false;
    parameter_t* p = markUsed(name);
    if (!p) return false;
    // The entry counts as read even when its text is neither word: the
    // plug-in did ask for it.
    if (p->text == "on") {
        b = true;
        return true;
    }
    if (p->text == "off") {
        b = false;
        return true;
    }
    return false;
}

bool paramMap_t::getParam(const std::string& name, float& f) {
    if (!includes(name, parameter_t::FLOAT)) return false;
    parameter_t* p = markUsed(name);
    if (!p) return false;
    f = p->number;
    return true;
}

bool paramMap_t::getParam(const std::string& name, double& d) {
    if (!includes(name, parameter_t::FLOAT)) return false;
    parameter_t* p = markUsed(name);
    if (!p) return false;
    d = static_cast<double>(p->number);
    return true;
}

bool paramMap_t::getParam(const std::string& name, int& i) {
    if (!includes(name, parameter_t::FLOAT)) return false;
    auto it = dicc.find(name);
    if (it == dicc.end()) return false;
    // Converting a float outside the int range is undefined; such a value
    // cannot be meant as a count, so the plug-in keeps its default and the
    // entry stays unused, which makes the host warn about it.
    const float n = it->second.number;
    if (!(n > -2147483904.0f && n < 2147483648.0f)) return false;
    it->second.used = true;
    i = static_cast<int>(n);
    return true;
}

bool paramMap_t::getParam(const std::string& name, point3d_t& p) {
    if (!includes(name, parameter_t::POINT)) return false;
    parameter_t* e = markUsed(name);
    if (!e) return false;
    p = e->point;
    return true;
}

bool paramMap_t::getParam(const std::string& name, color_t& col) {
    if (!includes(name, parameter_t::COLOR)) return false;
    parameter_t* e = markUsed(name);
    if (!e) return false;
    col.set(e->colour.R, e->colour.G, e->colour.B);
    return true;
}

bool paramMap_t::getParam(const std::string& name, colorA_t& col) {
    if (!includes(name, parameter_t::COLOR)) return false;
    parameter_t* e = markUsed(name);
    if (!e) return false;
    col = e->colour;
    return true;
}

bool paramMap_t::includes(const std::string& name, int kind) const {
    auto it = dicc.find(name);
    return it != dicc.end() && it->second.kind == kind;
}

void paramMap_t::checkUnused(const std::string& env) const {
    for (const auto& entry : dicc)
        if (!entry.second.used)
            emitMessage(messageLevel_t::warning, messageStream_t::standardOutput,
                        "[WARNING]:Unused param " + entry.first + " in " + env + "\n");
}

parameter_t& paramMap_t::operator[](const std::string& name) {
    return dicc[name];
}

void paramMap_t::clear() {
    dicc.clear();
}

} // namespace vexlar
