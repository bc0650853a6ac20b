// Reading the lines and words of OBJ text without a stream per line: the
// statements of a large mesh file are read from a large buffer, with the
// word and number rules of the C++ stream extraction (`std::getline` lines,
// `>>` words and floats in the "C" locale), so that what the readers accept
// and report stays what it was with streams.
#ifndef VEXLAR_HOST_OBJSCAN_H
#define VEXLAR_HOST_OBJSCAN_H

#include <cstddef>
#include <cstring>
#include <istream>
#include <string>
#include <vector>

namespace vexlar {
namespace host {

/// A piece of text: [begin, end). Does not own the characters.
struct textSpan_t {
    const char* begin = nullptr;
    const char* end = nullptr;
    std::size_t size() const { return static_cast<std::size_t>(end - begin); }
    bool empty() const { return begin == end; }
    char operator[](std::size_t i) const { return begin[i]; }
    bool is(const char* word) const;
    std::string str() const { return std::string(begin, end); }
};

/// The white space of `>>` in the "C" locale: ' ', '\t', '\n', '\v', '\f', '\r'.
inline bool isObjSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

/// The next word of `line` after skipping white space (empty at its end);
/// `line.begin` moves past the word.
inline textSpan_t nextWord(textSpan_t& line) {
    const char* p = line.begin;
    while (p < line.end && isObjSpace(*p)) ++p;
    const char* start = p;
    while (p < line.end && !isObjSpace(*p)) ++p;
    line.begin = p;
    return textSpan_t{start, p};
}

/// What `>> float` takes from a text: the longest prefix of the form
/// [+-]digits[.digits][(e|E)[+-]digits] (digits before the exponent may be
/// none on one side of the point).
struct floatText_t {
    const char* end = nullptr;
    bool digit = false;            ///< a digit before any exponent
    bool exponent = false;         ///< an 'e' was taken
    bool exponentDigit = false;    ///< a digit after it
    std::size_t integerDigits = 0; ///< digits before the point

    /// Whether the taken text is a number (it may still be too large).
    bool number() const { return digit && (!exponent || exponentDigit); }
};

inline floatText_t takeFloat(const char* p, const char* end) {
    floatText_t t;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    bool point = false;
    for (; p < end; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
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
    }
    t.end = p;
    return t;
}

/// The conversion behind extractFloat of the text [begin, t.end) that
/// takeFloat took.
bool convertFloat(const char* begin, const floatText_t& t, float* value);

/// `>> float` on the rest of `line`: skips white space, then takes what
/// takeFloat takes and converts it as the "C" locale does. True when that
/// gives a finite number. On failure `*value` (when given) is 0 for text
/// that is no number and the largest float of its sign for one too large,
/// and is left as it was when only white space remained. Without `value`
/// the conversion is skipped whenever the text cannot overflow.
inline bool extractFloat(textSpan_t& line, float* value) {
    const char* p = line.begin;
    while (p < line.end && isObjSpace(*p)) ++p;
    line.begin = p;
    if (p == line.end) return false;
    const floatText_t t = takeFloat(p, line.end);
    line.begin = t.end;
    // Only an exponent or more than 38 digits before the point can leave
    // the float range.
    if (!value && t.number() && !t.exponent && t.integerDigits <= 38) return true;
    return convertFloat(p, t, value);
}

/// Calls `line(textSpan_t)` for every line of `text` as std::getline splits
/// it ('\n' ends a line, which it does not include; a last line may lack
/// it). Stops early when `line` returns false.
template <class F> void forEachLine(const char* text, std::size_t size, F&& line) {
    const char* p = text;
    const char* end = text + size;
    while (p < end) {
        const char* nl = static_cast<const char*>(std::char_traits<char>::find(p, end - p, '\n'));
        const char* stop = nl ? nl : end;
        if (!line(textSpan_t{p, stop})) return;
        p = nl ? nl + 1 : end;
    }
}

/// Reads `in` from where it stands to its end in large blocks (no stream
/// operation per line) and hands `chunk(const char*, std::size_t)` whole
/// lines only, each ending in '\n' but perhaps the very last; `chunk`
/// returns false to stop. The stream's state is left alone: a read error
/// simply ends the text.
template <class F> void forEachBlock(std::istream& in, F&& chunk) {
    const std::size_t blockBytes = std::size_t(1) << 18;
    std::vector<char> block(blockBytes);
    std::size_t have = 0; // bytes in `block`; those after the last '\n' await the rest of their line
    std::streambuf* buf = in.rdbuf();
    for (;;) {
        if (block.size() < have + blockBytes) block.resize(have + blockBytes);
        const std::streamsize got =
            buf ? buf->sgetn(block.data() + have, static_cast<std::streamsize>(blockBytes)) : 0;
        if (got <= 0) {
            if (have) chunk(static_cast<const char*>(block.data()), have);
            return;
        }
        const std::size_t from = have;
        have += static_cast<std::size_t>(got);
        std::size_t whole = have;
        while (whole > from && block[whole - 1] != '\n') --whole;
        if (whole == from) continue; // no line ends in this block
        if (!chunk(static_cast<const char*>(block.data()), whole)) return;
        std::memmove(block.data(), block.data() + whole, have - whole);
        have -= whole;
    }
}

} // namespace host
} // namespace vexlar

#endif
