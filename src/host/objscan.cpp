#include "host/objscan.h"

#include <cstdlib>
#include <limits>

namespace vexlar {
namespace host {

bool textSpan_t::is(const char* word) const {
    const std::size_t n = std::strlen(word);
    return size() == n && std::memcmp(begin, word, n) == 0;
}

textSpan_t nextWord(textSpan_t& line) {
    const char* p = line.begin;
    while (p < line.end && isObjSpace(*p)) ++p;
    const char* start = p;
    while (p < line.end && !isObjSpace(*p)) ++p;
    line.begin = p;
    return textSpan_t{start, p};
}

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The longest prefix of [p, end) that the stream's number reader takes:
// [+-], digits with at most one '.', then, after a digit, one exponent
// (e or E, [+-], digits).
struct floatText_t {
    const char* end = nullptr;
    bool digit = false;            // a digit before any exponent
    bool exponent = false;         // an 'e' was taken
    bool exponentDigit = false;    // a digit after it
    std::size_t integerDigits = 0; // digits before the point
};

floatText_t takeFloat(const char* p, const char* end) {
    floatText_t t;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    bool point = false;
    while (p < end) {
        const char c = *p;
        if (isDigit(c)) {
            if (t.exponent) {
                t.exponentDigit = true;
            } else {
                t.digit = true;
                if (!point) ++t.integerDigits;
            }
        } else if (c == '.' && !point && !t.exponent) {
            point = true;
        } else if ((c == 'e' || c == 'E') && !t.exponent && t.digit) {
            t.exponent = true;
            if (p + 1 < end && (p[1] == '+' || p[1] == '-')) ++p;
        } else {
            break;
        }
        ++p;
    }
    t.end = p;
    return t;
}

} // namespace

bool extractFloat(textSpan_t& line, float* value) {
    const char* p = line.begin;
    while (p < line.end && isObjSpace(*p)) ++p;
    line.begin = p;
    if (p == line.end) return false;
    const floatText_t t = takeFloat(p, line.end);
    line.begin = t.end;
    bool ok = t.digit && (!t.exponent || t.exponentDigit);
    // Only an exponent or more than 38 digits before the point can leave
    // the float range.
    if (ok && !value && !t.exponent && t.integerDigits <= 38) return true;
    float v = 0.0f;
    if (ok) {
        // The taken text alone, so that the conversion sees nothing more
        // (no hexadecimal, "inf" or "nan" past what the stream takes).
        char small[64];
        std::string large;
        const std::size_t n = static_cast<std::size_t>(t.end - p);
        const char* text = small;
        if (n < sizeof small) {
            std::memcpy(small, p, n);
            small[n] = '\0';
        } else {
            large.assign(p, n);
            text = large.c_str();
        }
        char* stop = nullptr;
        v = std::strtof(text, &stop);
        ok = stop == text + n;
        if (!ok) {
            v = 0.0f;
        } else if (v == std::numeric_limits<float>::infinity()) {
            v = std::numeric_limits<float>::max();
            ok = false;
        } else if (v == -std::numeric_limits<float>::infinity()) {
            v = -std::numeric_limits<float>::max();
            ok = false;
        }
    }
    if (value) *value = v;
    return ok;
}

} // namespace host
} // namespace vexlar
