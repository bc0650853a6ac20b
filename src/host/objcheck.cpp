#include "host/objcheck.h"

#include <climits>

#include "host/objscan.h"

namespace vexlar {
namespace host {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The corners of a face line ("f ..."), 0 for any other line.
std::size_t cornersOf(const textSpan_t& line) {
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i + 1 >= line.size() || line[i] != 'f' || (line[i + 1] != ' ' && line[i + 1] != '\t')) return 0;
    std::size_t n = 0;
    bool inToken = false;
    for (++i; i < line.size(); ++i) {
        const bool blank = line[i] == ' ' || line[i] == '\t' || line[i] == '\r';
        if (!blank && !inToken) ++n;
        inToken = !blank;
    }
    return n;
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
            const std::size_t corners = cornersOf(line);
            if (corners > most) most = corners;
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
