#include "fuzztargets.h"

#include "core/playerchannel.h"

#include <algorithm>

namespace bramblet::fuzz {

using namespace bramblet::playerchannel;

namespace {

struct Cut {
    std::vector<std::uint8_t> bytes;
    bool reset;
    bool operator==(const Cut &) const = default;
};

// The records of a scrambled stream up to and including its first reset, cut by hand.
std::vector<Cut> reference(std::span<const std::uint8_t> stream)
{
    std::vector<Cut> out;
    std::size_t p = 0;
    while (stream.size() - p >= 4) {
        std::vector<std::uint8_t> header(stream.begin() + static_cast<std::ptrdiff_t>(p),
                                         stream.begin() + static_cast<std::ptrdiff_t>(p + 4));
        scramble(header);
        const std::size_t total = HeaderSize + ((std::size_t{header[2]} << 8) | header[3]);
        if (stream.size() - p < total)
            break;
        std::vector<std::uint8_t> record(stream.begin() + static_cast<std::ptrdiff_t>(p),
                                         stream.begin() + static_cast<std::ptrdiff_t>(p + total));
        scramble(record);
        const bool reset = isResetRecord(record[0], record[1]);
        out.push_back({record, reset});
        if (reset)
            break;
        p += total;
    }
    return out;
}

RecordSink collect(std::vector<Cut> &into)
{
    return [&into](const Record &r) {
        FUZZ_CHECK(r.bytes.size() == HeaderSize + r.payloadLength);
        FUZZ_CHECK(r.reset == isResetRecord(r.flag(), r.command()));
        FUZZ_CHECK(((std::size_t{r.bytes[2]} << 8) | r.bytes[3]) == r.payloadLength);
        into.push_back({std::vector<std::uint8_t>(r.bytes.begin(), r.bytes.end()), r.reset});
    };
}

} // namespace

int playerChannel(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    const std::vector<Cut> expected = reference(input);

    RecordFramer whole;
    std::vector<Cut> all;
    whole.feed(input, collect(all));
    FUZZ_CHECK(all == expected);
    FUZZ_CHECK(whole.buffered() < MaxRecordSize);

    // Cut into reads of any size, the records up to the first reset are the same.
    RecordFramer pieces;
    std::vector<Cut> cut;
    Splitter split(size ? data[size - 1] : 0);
    for (std::size_t pos = 0; pos < size;) {
        const std::size_t n = std::min<std::size_t>(size - pos, 1 + split.next() % 64);
        pieces.feed(input.subspan(pos, n), collect(cut));
        FUZZ_CHECK(pieces.buffered() < MaxRecordSize);
        pos += n;
    }
    FUZZ_CHECK(cut.size() >= expected.size());
    FUZZ_CHECK(std::equal(expected.begin(), expected.end(), cut.begin()));
    if (expected.empty() || !expected.back().reset)
        FUZZ_CHECK(cut.size() == expected.size());
    return 0;
}

} // namespace bramblet::fuzz
