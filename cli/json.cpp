#include "json.h"

#include <cstdio>

namespace arcovelo::cli {
namespace {

// Length of the well-formed UTF-8 sequence at `text[at]` (no overlong forms,
// no surrogates, nothing beyond U+10FFFF), or 0 when there is none.
std::size_t WellFormedLength(const std::string& text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t n = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;  // the range of the second byte
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        n = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    else if (lead >= 0xF0 && lead <= 0xF4)
        n = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    if (n == 0 || at + n > text.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    return n;
}

std::string Escape(const char* format, unsigned value)
{
    char out[8];
    std::snprintf(out, sizeof out, format, value);
    return out;
}

}  // namespace

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = WellFormedLength(text, i);
        if (n == 0)
            out += Escape("\\udc%02x", c);
        else if (c == '"' || c == '\\')
            out += std::string("\\") + char(c);
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20)
            out += Escape("\\u%04x", c);
        else
            out.append(text, i, n);
        i += n == 0 ? 1 : n;
    }
    return out + "\"";
}

}  // namespace arcovelo::cli
