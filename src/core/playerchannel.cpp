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

void RecordFramer::feed(std::span<const std::uint8_t> bytes, const RecordSink &sink)
{
    if (bytes.empty())
        return;
    if (!backlog_.empty()) {
        // What a failing sink left behind goes first, in stream order.
        const std::vector<std::uint8_t> backlog = std::move(backlog_);
        backlog_.clear();
        try {
            if (!cut(backlog, sink))
                return;
        } catch (...) {
            backlog_.insert(backlog_.end(), bytes.begin(), bytes.end());
            throw;
        }
    }
    cut(bytes, sink);
}

bool RecordFramer::cut(std::span<const std::uint8_t> bytes, const RecordSink &sink)
{
    while (!bytes.empty()) {
        // Only the record under way is copied in, so the buffer never grows past it. A record
        // whose header is in this read is copied in one go.
        std::size_t want = 4;
        if (buffer_.size() >= 4)
            want = recordTotal(buffer_.data());
        else if (buffer_.empty() && bytes.size() >= 4)
            want = recordTotal(bytes.data());
        const std::size_t take = std::min(bytes.size(), want - buffer_.size());
        append(bytes.first(take), want);
        bytes = bytes.subspan(take);
        if (buffer_.size() < 4 || buffer_.size() < recordTotal(buffer_.data()))
            continue; // the rest comes with a later read
        const std::uint8_t flag = buffer_[0] ^ ChannelKey[0];
        const std::uint8_t command = buffer_[1] ^ ChannelKey[1];
        const std::span<std::uint8_t> record(buffer_);
        scramble(record);
        const Record r{record, static_cast<std::uint16_t>(record.size() - HeaderSize), isResetRecord(flag, command)};
        // The record's bytes stay in place while the sink runs; it is done with either way.
        try {
            sink(r);
        } catch (...) {
            buffer_.clear();
            // The connection closes after a reset: nothing after it is kept.
            if (!r.reset)
                backlog_.assign(bytes.begin(), bytes.end());
            throw;
        }
        buffer_.clear();
        if (r.reset) {
            // The connection closes: nothing after the reset is handed on.
            fitBuffer();
            return false;
        }
    }
    fitBuffer();
    return true;
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
