#include "host/objcheck.h"

#include <cctype>
#include <climits>

namespace vexlar {
namespace host {

namespace {

// The corners of a face line ("f ..."), 0 for any other line.
std::size_t cornersOf(const std::string& line) {
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
std::string badIndexIn(const std::string& line) {
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i + 1 >= line.size() || (line[i] != 'f' && line[i] != 'l' && line[i] != 'p') ||
        (line[i + 1] != ' ' && line[i + 1] != '\t'))
        return std::string();
    for (i += 1; i < line.size();) {
        if (!std::isdigit(static_cast<unsigned char>(line[i]))) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        long long value = 0;
        bool over = false;
        for (; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i) {
            value = value * 10 + (line[i] - '0');
            if (value > INT_MAX) over = true;
            if (over) value = INT_MAX;
        }
        if (over) {
            const std::size_t len = i - start;
            return len > 40 ? line.substr(start, 40) + "..." : line.substr(start, len);
        }
    }
    return std::string();
}

} // namespace

std::string objIndexFault(std::istream& in, std::size_t* maxCorners) {
    std::string fault;
    std::string line;
    std::size_t most = 0;
    for (long long n = 1; fault.empty() && std::getline(in, line); ++n) {
        const std::size_t corners = cornersOf(line);
        if (corners > most) most = corners;
        const std::string bad = badIndexIn(line);
        if (!bad.empty())
            fault = "line " + std::to_string(n) + ": the index " + bad + " is out of range (at most " +
                    std::to_string(INT_MAX) + ")";
    }
    in.clear();
    in.seekg(0);
    if (maxCorners) *maxCorners = most;
    return fault;
}

} // namespace host
} // namespace vexlar
