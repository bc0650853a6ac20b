#include "host/objcheck.h"

#include <climits>

#include "host/objscan.h"

namespace vexlar {
namespace host {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The corners of a face line ("f ...", 0 for any other line), and whether a
// face, line or point statement holds a run of ten digits or more (which
// badIndexIn then looks at), in one pass over the line.
std::size_t cornersOf(const textSpan_t& line, bool& longNumber) {
    longNumber = false;
    const char* p = line.begin;
    const char* end = line.end;
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    if (end - p < 2 || (*p != 'f' && *p != 'l' && *p != 'p') || (p[1] != ' ' && p[1] != '\t')) return 0;
    const bool face = *p == 'f';
    std::size_t n = 0, digits = 0;
    bool inToken = false;
    for (++p; p < end; ++p) {
        const char c = *p;
        const bool blank = c == ' ' || c == '\t' || c == '\r';
        if (!blank && !inToken) ++n;
        inToken = !blank;
        digits = isDigit(c) ? digits + 1 : 0;
        if (digits >= 10) longNumber = true;
    }
    return face ? n : 0;
}

// The first index of one statement line out of the int range, or "".
std::string badIndexIn(const textSpan_t& line) {
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i + 1 >= line.size() || (line[i] != 'f' && line[i] != 'l' && line[i] != 'p') ||
        (line[i + 1] != ' ' && line[i + 1] != '\t'))
        return std::string();
    for (i += 1; i < line.size();) {
        if (!isDigit(line[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        long long value = 0;
        bool over = false;
        for (; i < line.size() && isDigit(line[i]); ++i) {
            value = value * 10 + (line[i] - '0');
            if (value > INT_MAX) over = true;
            if (over) value = INT_MAX;
        }
        if (over) {
            const std::size_t len = i - start;
            const std::string digits(line.begin + start, len > 40 ? 40 : len);
            return len > 40 ? digits + "..." : digits;
        }
    }
    return std::string();
}

} // namespace

std::string objIndexFault(std::istream& in, std::size_t* maxCorners) {
    std::string fault;
    std::size_t most = 0;
    long long n = 0;
    forEachBlock(in, [&](const char* text, std::size_t size) {
        forEachLine(text, size, [&](textSpan_t line) {
            ++n;
            bool longNumber = false;
            const std::size_t corners = cornersOf(line, longNumber);
            if (corners > most) most = corners;
            if (!longNumber) return true;
            const std::string bad = badIndexIn(line);
            if (!bad.empty())
                fault = "line " + std::to_string(n) + ": the index " + bad + " is out of range (at most " +
                        std::to_string(INT_MAX) + ")";
            return fault.empty();
        });
        return fault.empty();
    });
    in.clear();
    in.seekg(0);
    if (maxCorners) *maxCorners = most;
    return fault;
}

} // namespace host
} // namespace vexlar
