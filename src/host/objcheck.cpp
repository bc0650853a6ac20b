#include "host/objcheck.h"

#include <cctype>
#include <climits>

namespace vexlar {
namespace host {

namespace {

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

std::string objIndexFault(std::istream& in) {
    std::string fault;
    std::string line;
    for (long long n = 1; fault.empty() && std::getline(in, line); ++n) {
        const std::string bad = badIndexIn(line);
        if (!bad.empty())
            fault = "line " + std::to_string(n) + ": the index " + bad + " is out of range (at most " +
                    std::to_string(INT_MAX) + ")";
    }
    in.clear();
    in.seekg(0);
    return fault;
}

} // namespace host
} // namespace vexlar
