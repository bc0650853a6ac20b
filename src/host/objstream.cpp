#include "host/objstream.h"

#include <climits>
#include <cmath>
#include <vector>

#include "host/objscan.h"

namespace vexlar {
namespace host {

namespace {

bool isDigit(char c) {
    return static_cast<unsigned>(c - '0') < 10u;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// One line's text, read the way the callback reader reads its C string:
// past the end is '\0'.
struct cursor_t {
    const char* p;
    const char* end;
    char at(std::size_t i = 0) const { return p + i < end ? p[i] : '\0'; }
    void skipBlanks() {
        while (p < end && isBlank(*p)) ++p;
    }
    // To the first of `stops` (or the end).
    void skipUntil(bool slash) {
        while (p < end && !isBlank(*p) && !(slash && *p == '/')) ++p;
    }
};

// atoi: white space, a sign, digits; out of the long range it saturates,
// then the value is cut to an int.
int atoiAt(const char* p, const char* end) {
    while (p < end && isObjSpace(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    unsigned long long v = 0;
    bool over = false;
    for (; p < end && isDigit(*p); ++p) {
        if (v > (ULLONG_MAX - 9) / 10) over = true;
        if (!over) v = v * 10 + static_cast<unsigned>(*p - '0');
    }
    long r;
    if (negative)
        r = over || v > static_cast<unsigned long long>(LONG_MAX) + 1 ? LONG_MIN : static_cast<long>(0 - v);
    else
        r = over || v > static_cast<unsigned long long>(LONG_MAX) ? LONG_MAX : static_cast<long>(v);
    return static_cast<int>(r);
}

// One number of a statement: blanks, then a word up to a blank; `fallback`
// when it does not start like a number.
float readNumber(cursor_t& c, double fallback) {
    c.skipBlanks();
    const char* start = c.p;
    c.skipUntil(false);
    double value = fallback;
    objReaderDouble(start, c.p, &value);
    return static_cast<float>(value);
}

// One corner: i, i/j, i//k or i/j/k.
objCorner_t readCorner(cursor_t& c) {
    objCorner_t k;
    k.vertex = atoiAt(c.p, c.end);
    c.skipUntil(true);
    if (c.at() != '/') return k;
    ++c.p;
    if (c.at() == '/') {
        ++c.p;
        k.normal = atoiAt(c.p, c.end);
        c.skipUntil(true);
        return k;
    }
    k.texcoord = atoiAt(c.p, c.end);
    c.skipUntil(true);
    if (c.at() != '/') return k;
    ++c.p;
    k.normal = atoiAt(c.p, c.end);
    c.skipUntil(true);
    return k;
}

class reader_t {
public:
    explicit reader_t(objSink_t& sink) : sink(sink) {}

    // Whole lines; '\n' or '\r' ends one, a NUL ends its text.
    void block(const char* p, const char* end) {
        while (p < end) {
            const char* stop = p;
            while (stop < end && *stop != '\n' && *stop != '\r' && *stop != '\0') ++stop;
            line(cursor_t{p, stop});
            while (stop < end && *stop != '\n' && *stop != '\r') ++stop;
            p = stop + (stop < end ? 1 : 0);
        }
    }

private:
    void line(cursor_t c) {
        c.skipBlanks();
        const char k0 = c.at();
        if (k0 == 'v' && isBlank(c.at(1))) {
            c.p += 2;
            const float x = readNumber(c, 0.0);
            const float y = readNumber(c, 0.0);
            const float z = readNumber(c, 0.0);
            sink.vertex(x, y, z);
        } else if (k0 == 'v' && c.at(1) == 't' && isBlank(c.at(2))) {
            c.p += 3;
            const float u = readNumber(c, 0.0);
            const float v = readNumber(c, 0.0);
            sink.texcoord(u, v);
        } else if (k0 == 'f' && isBlank(c.at(1))) {
            c.p += 2;
            c.skipBlanks();
            corners.clear();
            while (c.p < c.end) {
                corners.push_back(readCorner(c));
                c.skipBlanks();
            }
            if (!corners.empty()) sink.face(corners.data(), corners.size());
        }
    }

    objSink_t& sink;
    std::vector<objCorner_t> corners;
};

// std::pow(10.0, -n), the weight of the n-th digit after the point past the
// first seven, remembered for the digits numbers usually have.
double tenthPower(int n) {
    static const std::vector<double> known = [] {
        std::vector<double> t(64);
        for (int i = 0; i < 64; ++i) t[static_cast<std::size_t>(i)] = std::pow(10.0, -i);
        return t;
    }();
    return n < 64 ? known[static_cast<std::size_t>(n)] : std::pow(10.0, -n);
}

} // namespace

bool objReaderDouble(const char* s, const char* end, double* result) {
    if (s >= end) return false;
    double mantissa = 0.0;
    int exponent = 0;
    char sign = '+';
    char expSign = '+';
    const char* p = s;
    int read = 0;
    bool more = false;
    bool leadingDot = false;
    if (*p == '+' || *p == '-') {
        sign = *p++;
        if (p != end && *p == '.') leadingDot = true;
    } else if (isDigit(*p)) {
    } else if (*p == '.') {
        leadingDot = true;
    } else {
        return false;
    }
    more = p != end;
    if (!leadingDot) {
        while (more && isDigit(*p)) {
            mantissa *= 10;
            mantissa += static_cast<int>(*p - 0x30);
            ++p;
            ++read;
            more = p != end;
        }
        if (read == 0) return false;
    }
    if (more) {
        bool exponentNext = false;
        if (*p == '.') {
            ++p;
            read = 1;
            more = p != end;
            static const double tenths[] = {1.0, 0.1, 0.01, 0.001, 0.0001, 0.00001, 0.000001, 0.0000001};
            const int entries = sizeof tenths / sizeof tenths[0];
            while (more && isDigit(*p)) {
                mantissa += static_cast<int>(*p - 0x30) * (read < entries ? tenths[read] : tenthPower(read));
                ++read;
                ++p;
                more = p != end;
            }
            exponentNext = more && (*p == 'e' || *p == 'E');
        } else {
            exponentNext = *p == 'e' || *p == 'E';
        }
        if (exponentNext) {
            ++p;
            more = p != end;
            if (more && (*p == '+' || *p == '-')) {
                expSign = *p;
                ++p;
            } else if (!more || !isDigit(*p)) {
                return false;
            }
            read = 0;
            more = p != end;
            while (more && isDigit(*p)) {
                if (exponent > INT_MAX / 10) return false;
                exponent *= 10;
                exponent += static_cast<int>(*p - 0x30);
                ++p;
                ++read;
                more = p != end;
            }
            exponent *= (expSign == '+' ? 1 : -1);
            if (read == 0) return false;
        }
    }
    *result = (sign == '+' ? 1 : -1) *
              (exponent ? std::ldexp(mantissa * std::pow(5.0, exponent), exponent) : mantissa);
    return true;
}

void readObjStatements(const char* text, std::size_t size, objSink_t& sink) {
    reader_t r(sink);
    r.block(text, text + size);
}

void readObjStatements(std::istream& in, objSink_t& sink) {
    reader_t r(sink);
    forEachBlock(in, [&](const char* text, std::size_t size) {
        r.block(text, text + size);
        return true;
    });
}

} // namespace host
} // namespace vexlar
