#include "core/playerchannel.h"

#include "core/errors.h"

#include <algorithm>
#include <cstring>

namespace bramblet::playerchannel {

namespace {
// Room for the longest record plus one more read's worth, so a read never has to be cut
// into many small copies while a long record is pending.
constexpr std::size_t BufferCapacity = MaxRecordSize + 65536;
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

RecordFramer::RecordFramer() : buffer_(BufferCapacity) {}

void RecordFramer::feed(std::span<const std::uint8_t> bytes, const RecordSink &sink)
{
    while (!bytes.empty()) {
        const std::size_t take = std::min(bytes.size(), buffer_.size() - length_);
        std::memcpy(buffer_.data() + length_, bytes.data(), take);
        length_ += take;
        bytes = bytes.subspan(take);

        std::size_t used = 0;
        auto keepRest = [&] {
            std::memmove(buffer_.data(), buffer_.data() + used, length_ - used);
            length_ -= used;
        };
        try {
            while (length_ - used >= 4) {
                std::uint8_t *start = buffer_.data() + used;
                const std::uint8_t flag = start[0] ^ ChannelKey[0];
                const std::uint8_t command = start[1] ^ ChannelKey[1];
                const auto payloadLength = static_cast<std::uint16_t>(((start[2] ^ ChannelKey[2]) << 8)
                                                                      | (start[3] ^ ChannelKey[3]));
                const std::size_t total = HeaderSize + payloadLength;
                if (length_ - used < total)
                    break; // the rest comes with a later read
                const std::span<std::uint8_t> record(start, total);
                scramble(record);
                used += total;
                const Record r{record, payloadLength, isResetRecord(flag, command)};
                if (r.reset) {
                    // The connection closes: nothing after the reset is handed on. The record's
                    // bytes stay in place while the sink runs.
                    used = 0;
                    length_ = 0;
                    sink(r);
                    return;
                }
                sink(r);
            }
        } catch (...) {
            keepRest();
            throw;
        }
        keepRest();
    }
}

} // namespace bramblet::playerchannel
