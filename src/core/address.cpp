#include "core/address.h"

#include <array>

namespace bramblet::address {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

// The whitespace of the C locale, which may end the text.
bool isCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads one part at `pos` the way strtoul with base 0 does once a digit is known to start
// it: "0x" + hex digits, "0" + octal digits, or decimal. A "0x" without hex digits reads
// as the number 0 followed by "x". Sets `ok` to false when the value passes 32 bits.
std::uint64_t readPart(std::string_view text, std::size_t &pos, bool &ok)
{
    constexpr std::uint64_t limit = 0xFFFFFFFFu;
    std::uint64_t value = 0;
    auto accumulate = [&](std::uint64_t base, std::uint64_t digit) {
        value = value * base + digit;
        if (value > limit)
            ok = false; // keep scanning so the end position is still right
        if (!ok)
            value = limit + 1;
    };
    const bool hex = text[pos] == '0' && pos + 2 < text.size() && (text[pos + 1] == 'x' || text[pos + 1] == 'X')
                     && isHexDigit(text[pos + 2]);
    if (hex) {
        pos += 2;
        while (pos < text.size() && isHexDigit(text[pos]))
            accumulate(16, static_cast<std::uint64_t>(hexValue(text[pos++])));
    } else if (text[pos] == '0') {
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '7')
            accumulate(8, static_cast<std::uint64_t>(text[pos++] - '0'));
    } else {
        while (pos < text.size() && isDigit(text[pos]))
            accumulate(10, static_cast<std::uint64_t>(text[pos++] - '0'));
    }
    return value;
}

} // namespace

std::string cleanTypedAddress(std::string_view typed)
{
    auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t first = 0;
    std::size_t last = typed.size();
    while (first < last && isBlank(typed[first]))
        ++first;
    while (last > first && isBlank(typed[last - 1]))
        --last;
    std::string cleaned;
    cleaned.reserve(last - first);
    for (std::size_t i = first; i < last; ++i)
        if (typed[i] != ' ')
            cleaned.push_back(typed[i]);
    return cleaned;
}

std::uint32_t inetAddr(std::string_view text)
{
    // The C function sees a zero-terminated string.
    if (const auto nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);

    static constexpr std::array<std::uint64_t, 4> lastPartMax{0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
    std::array<std::uint32_t, 3> leading{};
    std::size_t count = 0;
    std::size_t pos = 0;
    std::uint64_t value = 0;
    for (;;) {
        if (pos >= text.size() || !isDigit(text[pos]))
            return InetAddrNone;
        bool ok = true;
        value = readPart(text, pos, ok);
        if (!ok)
            return InetAddrNone;
        if (pos < text.size() && text[pos] == '.') {
            if (count > 2 || value > 0xFF)
                return InetAddrNone;
            leading[count++] = static_cast<std::uint32_t>(value);
            ++pos;
            continue;
        }
        break;
    }
    if (pos < text.size() && !isCSpace(text[pos]))
        return InetAddrNone;
    if (value > lastPartMax[count])
        return InetAddrNone;
    std::uint32_t address = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < count; ++i)
        address |= leading[i] << (24 - 8 * i);
    return address;
}

std::optional<std::uint32_t> parseDecimalQuad(std::string_view text, LeadingZeros zeros)
{
    std::uint32_t address = 0;
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return std::nullopt;
            ++pos;
        }
        const std::size_t start = pos;
        std::uint32_t value = 0;
        while (pos < text.size() && isDigit(text[pos]) && pos - start < 3)
            value = value * 10 + static_cast<std::uint32_t>(text[pos++] - '0');
        const std::size_t digits = pos - start;
        if (digits == 0 || value > 255)
            return std::nullopt;
        if (zeros == LeadingZeros::Refused && digits > 1 && text[start] == '0')
            return std::nullopt;
        address = (address << 8) | value;
    }
    if (pos != text.size())
        return std::nullopt;
    return address;
}

bool isDottedQuad(std::string_view text) { return parseDecimalQuad(text, LeadingZeros::Refused).has_value(); }

std::string formatDottedQuad(std::uint32_t address)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (shift != 24)
            text.push_back('.');
        text += std::to_string((address >> shift) & 0xFFu);
    }
    return text;
}

} // namespace bramblet::address
