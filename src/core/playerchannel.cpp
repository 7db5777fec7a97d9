#include "core/playerchannel.h"

#include "core/errors.h"

#include <algorithm>
#include <cstring>

namespace bramblet::playerchannel {

namespace {
// Spare room a buffer may keep beyond the record under way before it is given back: enough
// that a stream of small records does not reallocate at every read.
constexpr std::size_t SpareBytes = 1024;

std::size_t recordTotal(const std::uint8_t *start)
{
    return HeaderSize + ((std::size_t{static_cast<std::uint8_t>(start[2] ^ ChannelKey[2])} << 8)
                         | static_cast<std::uint8_t>(start[3] ^ ChannelKey[3]));
}
} // namespace

void scramble(std::span<std::uint8_t> record) noexcept
{
    std::size_t i = 0;
    const std::size_t whole = record.size() & ~std::size_t{3};
    for (; i < whole; i += 4) {
        record[i] ^= ChannelKey[0];
        record[i + 1] ^= ChannelKey[1];
        record[i + 2] ^= ChannelKey[2];
        record[i + 3] ^= ChannelKey[3];
    }
    for (; i < record.size(); ++i)
        record[i] ^= ChannelKey[i % 4];
}

std::vector<std::uint8_t> encodeRecord(std::uint8_t flag, std::uint8_t command, std::span<const std::uint8_t> payload,
                                       std::span<const std::uint8_t> furtherHeader)
{
    if (payload.size() > MaxPayloadSize)
        throw Error("Player record payload too long: " + std::to_string(payload.size()) + " bytes");
    if (!furtherHeader.empty() && furtherHeader.size() != HeaderSize - 4)
        throw Error("Player record header must have 20 further bytes");
    std::vector<std::uint8_t> out(HeaderSize + payload.size(), 0);
    out[0] = flag;
    out[1] = command;
    out[2] = static_cast<std::uint8_t>(payload.size() >> 8);
    out[3] = static_cast<std::uint8_t>(payload.size() & 0xFF);
    std::copy(furtherHeader.begin(), furtherHeader.end(), out.begin() + 4);
    std::copy(payload.begin(), payload.end(), out.begin() + HeaderSize);
    scramble(out);
    return out;
}

bool RecordFramer::gather(std::span<const std::uint8_t> &bytes)
{
    // Only the record under way is copied in, so the buffer never grows past it.
    if (buffer_.empty() && bytes.size() >= 4 && bytes.size() >= recordTotal(bytes.data())) {
        // The whole record is in this read, as most are: one plain copy.
        const std::size_t size = recordTotal(bytes.data());
        buffer_.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
        bytes = bytes.subspan(size);
    } else {
        // A record whose header is in this read is copied in one go.
        std::size_t want = 4;
        if (buffer_.size() >= 4)
            want = recordTotal(buffer_.data());
        else if (buffer_.empty() && bytes.size() >= 4)
            want = recordTotal(bytes.data());
        const std::size_t take = std::min(bytes.size(), want - buffer_.size());
        append(bytes.first(take), want);
        bytes = bytes.subspan(take);
        if (buffer_.size() < 4 || buffer_.size() < recordTotal(buffer_.data()))
            return false;
    }
    scramble(buffer_);
    return true;
}

void RecordFramer::sinkFailed(std::span<const std::uint8_t> rest, bool reset)
{
    buffer_.clear();
    // The connection closes after a reset: nothing after it is kept.
    if (!reset)
        backlog_.assign(rest.begin(), rest.end());
}

void RecordFramer::append(std::span<const std::uint8_t> bytes, std::size_t recordSize)
{
    // Grows with what arrives, never past the record under way: a header alone that
    // announces a long record costs nothing until its bytes come.
    const std::size_t need = buffer_.size() + bytes.size();
    if (need > buffer_.capacity())
        buffer_.reserve(std::max(need, std::min(2 * buffer_.capacity(), recordSize)));
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

void RecordFramer::fitBuffer()
{
    // A connection that falls idle after a long record gives its room back.
    const std::size_t want = buffer_.size() < 4 ? buffer_.size() : recordTotal(buffer_.data());
    if (buffer_.capacity() > want + SpareBytes) {
        std::vector<std::uint8_t> fitted;
        fitted.reserve(want);
        fitted.assign(buffer_.begin(), buffer_.end());
        buffer_.swap(fitted);
    }
}

} // namespace bramblet::playerchannel
