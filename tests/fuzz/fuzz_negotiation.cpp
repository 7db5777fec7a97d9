#include "fuzztargets.h"

#include "core/address.h"
#include "core/negotiation.h"

#include <algorithm>
#include <cstring>

namespace bramblet::fuzz {

using namespace bramblet::negotiation;

namespace {

// Every message must re-encode to the bytes it came from (an address only up to its zero).
void checkMessage(const Message &m, std::span<const std::uint8_t> source)
{
    const auto bytes = encode(m);
    FUZZ_CHECK(bytes.size() <= source.size());
    if (const auto *a = std::get_if<NegAddress>(&m)) {
        FUZZ_CHECK(address::isDottedQuad(a->address));
        FUZZ_CHECK(std::memcmp(bytes.data(), source.data(), 4 + a->address.size() + 1) == 0);
    } else {
        FUZZ_CHECK(std::equal(bytes.begin(), bytes.end(), source.begin()));
    }
}

// The messages a stream holds when no unknown type breaks its framing, or false.
bool walk(std::span<const std::uint8_t> stream, std::vector<Message> &out)
{
    while (true) {
        const ParseResult r = parse(stream);
        if (r.status == ParseStatus::Incomplete)
            return true;
        // Only an address field is dropped alone; any other malformed start is an unknown type.
        const bool isAddress = stream[0] == AddressType && stream[1] == 0 && stream[2] == 0 && stream[3] == 0;
        if (r.status == ParseStatus::Malformed && !isAddress)
            return false;
        if (r.status == ParseStatus::Ok)
            out.push_back(r.message);
        stream = stream.subspan(r.size);
    }
}

} // namespace

int negotiation(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);

    const ParseResult r = parse(input);
    FUZZ_CHECK(r.size <= size);
    if (r.status == ParseStatus::Ok)
        checkMessage(r.message, input);
    if (r.status == ParseStatus::Incomplete)
        FUZZ_CHECK(r.size == 0 && size < MaxMessageSize);

    Reassembler whole;
    const auto all = whole.feed(input);
    FUZZ_CHECK(whole.buffered() < MaxMessageSize);

    Reassembler pieces;
    std::vector<Message> cut;
    Splitter split(size ? data[0] : 0);
    for (std::size_t pos = 0; pos < size;) {
        const std::size_t n = std::min<std::size_t>(size - pos, 1 + split.next() % 40);
        const auto got = pieces.feed(input.subspan(pos, n));
        FUZZ_CHECK(pieces.buffered() < MaxMessageSize);
        cut.insert(cut.end(), got.begin(), got.end());
        pos += n;
    }
    for (const Message &m : cut)
        if (const auto *a = std::get_if<NegAddress>(&m))
            FUZZ_CHECK(address::isDottedQuad(a->address));

    // Without an unknown type, how the stream was cut must not matter.
    std::vector<Message> expected;
    if (walk(input, expected)) {
        FUZZ_CHECK(all == expected);
        FUZZ_CHECK(cut == expected);
    }
    return 0;
}

} // namespace bramblet::fuzz
