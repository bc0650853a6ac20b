#include "host/objscan.h"

#include <cstdlib>
#include <limits>

namespace vexlar {
namespace host {

bool textSpan_t::is(const char* word) const {
    const std::size_t n = std::strlen(word);
    return size() == n && std::memcmp(begin, word, n) == 0;
}

bool convertFloat(const char* begin, const floatText_t& t, float* value) {
    bool ok = t.number();
    float v = 0.0f;
    if (ok) {
        // The taken text alone, so that the conversion sees nothing more
        // (no hexadecimal, "inf" or "nan" past what the stream takes).
        char small[64];
        std::string large;
        const std::size_t n = static_cast<std::size_t>(t.end - begin);
        const char* text = small;
        if (n < sizeof small) {
            std::memcpy(small, begin, n);
            small[n] = '\0';
        } else {
            large.assign(begin, n);
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
