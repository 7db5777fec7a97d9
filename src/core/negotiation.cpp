#include "core/negotiation.h"

#include "core/wireint.h"

#include "core/address.h"
#include "core/errors.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace bramblet::negotiation {

namespace {

using wire::getInt32;
using wire::putInt32;

std::size_t sizeOfType(std::int32_t type)
{
    switch (type) {
    case HelloType:
        return HelloSize;
    case AddressType:
        return AddressSize;
    case PortRequestType:
        return PortRequestSize;
    default:
        return 0;
    }
}

} // namespace

std::array<std::uint8_t, HelloSize> encodeHello(std::int32_t role)
{
    std::array<std::uint8_t, HelloSize> out{};
    putInt32(out.data(), HelloType);
    putInt32(out.data() + 4, role);
    return out;
}

std::array<std::uint8_t, AddressSize> encodeAddress(std::string_view dottedQuad)
{
    if (!address::isDottedQuad(dottedQuad))
        throw Error("Not an IPv4 address: " + std::string(dottedQuad.substr(0, AddressFieldSize)));
    std::array<std::uint8_t, AddressSize> out{};
    putInt32(out.data(), AddressType);
    std::memcpy(out.data() + 4, dottedQuad.data(), dottedQuad.size());
    return out;
}

std::array<std::uint8_t, PortRequestSize> encodePortRequest()
{
    std::array<std::uint8_t, PortRequestSize> out{};
    putInt32(out.data(), PortRequestType);
    return out;
}

std::vector<std::uint8_t> encode(const Message &message)
{
    return std::visit(
        [](const auto &m) -> std::vector<std::uint8_t> {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, NegHello>) {
                const auto bytes = encodeHello(m.role);
                return {bytes.begin(), bytes.end()};
            } else if constexpr (std::is_same_v<T, NegAddress>) {
                const auto bytes = encodeAddress(m.address);
                return {bytes.begin(), bytes.end()};
            } else {
                const auto bytes = encodePortRequest();
                return {bytes.begin(), bytes.end()};
            }
        },
        message);
}

ParseResult parse(std::span<const std::uint8_t> bytes)
{
    ParseResult result;
    if (bytes.size() < 4)
        return result;
    const std::int32_t type = getInt32(bytes.data());
    const std::size_t size = sizeOfType(type);
    if (size == 0) {
        result.status = ParseStatus::Malformed;
        result.size = bytes.size();
        return result;
    }
    if (bytes.size() < size)
        return result;

    result.size = size;
    switch (type) {
    case HelloType:
        result.status = ParseStatus::Ok;
        result.message = NegHello{getInt32(bytes.data() + 4)};
        break;
    case AddressType: {
        // The text ends at the first zero byte and never beyond the field.
        const auto field = bytes.subspan(4, AddressFieldSize);
        const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
        const std::string text(field.begin(), end);
        if (end == field.end() || !address::isDottedQuad(text)) {
            result.status = ParseStatus::Malformed;
        } else {
            result.status = ParseStatus::Ok;
            result.message = NegAddress{text};
        }
        break;
    }
    default:
        result.status = ParseStatus::Ok;
        result.message = NegPortRequest{};
        break;
    }
    return result;
}

std::vector<Message> Reassembler::feed(std::span<const std::uint8_t> bytes)
{
    std::vector<Message> messages;
    while (!bytes.empty()) {
        // Top the buffer up only as far as one message can need, so it stays bounded
        // however large the read.
        const std::size_t take = std::min(bytes.size(), buffer_.size() - length_);
        std::memcpy(buffer_.data() + length_, bytes.data(), take);
        length_ += take;
        bytes = bytes.subspan(take);

        std::size_t used = 0;
        for (;;) {
            const std::span<const std::uint8_t> rest(buffer_.data() + used, length_ - used);
            const ParseResult r = parse(rest);
            if (r.status == ParseStatus::Incomplete)
                break;
            if (r.status == ParseStatus::Malformed && sizeOfType(getInt32(rest.data())) == 0) {
                // Unknown type: nothing after it can be framed any more.
                length_ = 0;
                return messages;
            }
            used += r.size;
            if (r.status == ParseStatus::Ok)
                messages.push_back(r.message);
        }
        std::memmove(buffer_.data(), buffer_.data() + used, length_ - used);
        length_ -= used;
    }
    return messages;
}

} // namespace bramblet::negotiation
