#include "host/diagnostics.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>

namespace vexlar {
namespace host {

jsonPath_t jsonPath_t::operator/(const std::string& key) const {
    jsonPath_t p(*this);
    p.steps.push_back({false, key, 0});
    return p;
}

jsonPath_t jsonPath_t::operator/(std::size_t index) const {
    jsonPath_t p(*this);
    p.steps.push_back({true, std::string(), index});
    return p;
}

std::string jsonPath_t::dotted() const {
    if (steps.empty()) return "(top level)";
    std::string out;
    for (const step_t& s : steps) {
        if (s.isIndex) {
            out += "[" + std::to_string(s.index) + "]";
        } else {
            if (!out.empty()) out += ".";
            out += s.key;
        }
    }
    return out;
}

namespace {

// A member name as one step of a JSON pointer: "~" becomes "~0", "/" "~1".
std::string pointerStep(const std::string& key) {
    std::string out;
    for (char c : key) {
        if (c == '~')
            out += "~0";
        else if (c == '/')
            out += "~1";
        else
            out += c;
    }
    return out;
}

} // namespace

std::string jsonPath_t::pointer() const {
    std::string out;
    for (const step_t& s : steps) out += "/" + (s.isIndex ? std::to_string(s.index) : pointerStep(s.key));
    return out;
}

textPos_t positionOf(const std::string& text, std::size_t offset) {
    textPos_t p;
    p.line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++p.line;
            lineStart = i + 1;
        }
    }
    p.column = static_cast<int>((offset < text.size() ? offset : text.size()) - lineStart) + 1;
    return p;
}

namespace {

// A scanner over text already known to be valid JSON. It records where each
// value starts; it does not check the grammar beyond what it needs to walk.
class scanner_t {
public:
    scanner_t(const std::string& text, std::map<std::string, textPos_t>& out, std::vector<jsonFlaw_t>& flaws)
        : text(text), out(out), flaws(flaws) {}

    bool value(const std::string& pointer, const jsonPath_t& path, int depth) {
        skipSpace();
        if (pos >= text.size() || depth > 512) return false;
        out[pointer] = here();
        char c = text[pos];
        if (c == '{') return object(pointer, path, depth);
        if (c == '[') return array(pointer, path, depth);
        if (c == '"') return string(nullptr);
        // Numbers and the literals true, false, null.
        const std::size_t start = pos;
        const textPos_t at = here();
        while (pos < text.size() && (std::isalnum(static_cast<unsigned char>(text[pos])) ||
                                     text[pos] == '-' || text[pos] == '+' || text[pos] == '.'))
            ++pos;
        checkNumber(text.substr(start, pos - start), path, at);
        return true;
    }

private:
    // A number beyond the range of a double cannot be read as a value.
    void checkNumber(const std::string& token, const jsonPath_t& path, const textPos_t& at) {
        if (token.empty() || !(token[0] == '-' || std::isdigit(static_cast<unsigned char>(token[0])))) return;
        errno = 0;
        double d = std::strtod(token.c_str(), nullptr);
        if (errno == ERANGE && std::isinf(d))
            flaws.push_back(
                {path, at, "the number " + token + " is too large (numbers reach about 1.8e308)"});
    }

    bool object(const std::string& pointer, const jsonPath_t& path, int depth) {
        std::set<std::string> keys;
        return elements('}', [&](std::size_t) {
            std::string key;
            if (pos >= text.size() || text[pos] != '"' || !string(&key)) return false;
            skipSpace();
            if (pos >= text.size() || text[pos] != ':') return false;
            ++pos;
            const std::string member = pointer + "/" + pointerStep(key);
            const bool repeated = !keys.insert(key).second;
            const textPos_t first = repeated ? out[member] : textPos_t();
            if (!value(member, path / key, depth + 1)) return false;
            if (repeated) {
                flaws.push_back({path / key, out[member],
                                 "the key \"" + key + "\" appears twice in one object (first at line " +
                                     std::to_string(first.line) + ")"});
                out[member] = first;
            }
            return true;
        });
    }

    bool array(const std::string& pointer, const jsonPath_t& path, int depth) {
        return elements(']', [&](std::size_t i) {
            return value(pointer + "/" + std::to_string(i), path / i, depth + 1);
        });
    }

    // The comma-separated elements of an object or array, from its opening
    // bracket to `close`; `element(i)` reads the i-th (0 first), starting at
    // its first non-blank character.
    template <class F> bool elements(char close, F element) {
        ++pos; // the opening bracket
        skipSpace();
        if (pos < text.size() && text[pos] == close) {
            ++pos;
            return true;
        }
        for (std::size_t i = 0; pos < text.size(); ++i) {
            skipSpace();
            if (!element(i)) return false;
            skipSpace();
            if (pos >= text.size()) return false;
            if (text[pos] == close) {
                ++pos;
                return true;
            }
            if (text[pos] != ',') return false;
            ++pos;
        }
        return false;
    }

    // Reads a string token; keys are decoded for the simple escapes, which
    // is all that member names in scene files use (other escapes are kept
    // as written, so such a member just has no position).
    bool string(std::string* decoded) {
        ++pos; // opening quote
        while (pos < text.size()) {
            char c = text[pos++];
            if (c == '"') return true;
            if (c == '\\' && pos < text.size()) {
                char e = text[pos++];
                if (decoded) {
                    switch (e) {
                    case 'n':
                        *decoded += '\n';
                        break;
                    case 't':
                        *decoded += '\t';
                        break;
                    case '"':
                        *decoded += '"';
                        break;
                    case '\\':
                        *decoded += '\\';
                        break;
                    case '/':
                        *decoded += '/';
                        break;
                    default:
                        *decoded += '\\';
                        *decoded += e;
                        break;
                    }
                }
                continue;
            }
            if (c == '\n') {
                ++line;
                lineStart = pos;
            }
            if (decoded) *decoded += c;
        }
        return false;
    }

    // Blanks, and the comments the scene reader accepts ("//" to the end
    // of the line, "/* ... */").
    void skipSpace() {
        while (pos < text.size()) {
            char c = text[pos];
            if (c == '/' && pos + 1 < text.size() && (text[pos + 1] == '/' || text[pos + 1] == '*')) {
                bool block = text[pos + 1] == '*';
                pos += 2;
                while (pos < text.size()) {
                    if (!block && text[pos] == '\n') break;
                    if (block && text[pos] == '*' && pos + 1 < text.size() && text[pos + 1] == '/') {
                        pos += 2;
                        break;
                    }
                    if (text[pos] == '\n') {
                        ++line;
                        lineStart = pos + 1;
                    }
                    ++pos;
                }
                continue;
            }
            if (c == '\n') {
                ++line;
                lineStart = pos + 1;
            } else if (c != ' ' && c != '\t' && c != '\r') {
                return;
            }
            ++pos;
        }
    }

    textPos_t here() const {
        textPos_t p;
        p.line = line;
        p.column = static_cast<int>(pos - lineStart) + 1;
        return p;
    }

    const std::string& text;
    std::map<std::string, textPos_t>& out;
    std::vector<jsonFlaw_t>& flaws;
    std::size_t pos = 0;
    int line = 1;
    std::size_t lineStart = 0;
};

// The entry of `entries` for `pointer` or else for its nearest ancestor
// that has one; `missing` when none has.
template <class T>
T nearest(const std::map<std::string, T>& entries, const std::string& pointer, const T& missing) {
    std::string p = pointer;
    for (;;) {
        auto it = entries.find(p);
        if (it != entries.end()) return it->second;
        if (p.empty()) return missing;
        p.erase(p.rfind('/'));
    }
}

} // namespace

void jsonPositions_t::index(const std::string& text) {
    positions.clear();
    found.clear();
    scanner_t(text, positions, found).value("", jsonPath_t(), 0);
}

textPos_t jsonPositions_t::find(const std::string& pointer) const {
    return nearest(positions, pointer, textPos_t());
}

void jsonPositions_t::markOverride(const std::string& pointer, const std::string& origin) {
    overrides[pointer] = origin;
}

std::string jsonPositions_t::overrideOf(const std::string& pointer) const {
    return nearest(overrides, pointer, std::string());
}

diagnostics_t::diagnostics_t(std::string label, const jsonPositions_t* positions)
    : name(std::move(label)), positions(positions) {}

std::string diagnostics_t::place(const jsonPath_t& at) const {
    if (positions) {
        std::string origin = positions->overrideOf(at.pointer());
        if (!origin.empty()) return origin + ": ";
        textPos_t p = positions->find(at.pointer());
        if (p.line > 0) return name + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": ";
    }
    return name + ": ";
}

std::string diagnostics_t::errorText(const jsonPath_t& at, const std::string& message) const {
    return place(at) + "error: " + at.dotted() + ": " + message;
}

void diagnostics_t::fail(const jsonPath_t& at, const std::string& message) const {
    throw sceneError_t(errorText(at, message));
}

void diagnostics_t::warn(const jsonPath_t& at, const std::string& message) {
    kept.push_back(place(at) + "warning: " + at.dotted() + ": " + message);
}

void diagnostics_t::failFile(const std::string& message) const {
    throw sceneError_t(name + ": error: " + message);
}

} // namespace host
} // namespace vexlar
