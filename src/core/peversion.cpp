#include "core/peversion.h"

#include <cstdio>
#include <optional>
#include <vector>

namespace bramblet::pe {

namespace {

using Bytes = std::span<const std::uint8_t>;

// Bounds-checked little-endian reads: every access to the data goes through these.
std::optional<std::uint16_t> u16(Bytes data, std::size_t offset)
{
    if (offset > data.size() || data.size() - offset < 2)
        return std::nullopt;
    return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
}

std::optional<std::uint32_t> u32(Bytes data, std::size_t offset)
{
    if (offset > data.size() || data.size() - offset < 4)
        return std::nullopt;
    return static_cast<std::uint32_t>(data[offset]) | (static_cast<std::uint32_t>(data[offset + 1]) << 8)
           | (static_cast<std::uint32_t>(data[offset + 2]) << 16) | (static_cast<std::uint32_t>(data[offset + 3]) << 24);
}

constexpr std::uint32_t ResourceTypeVersion = 16;
constexpr std::uint32_t HighBit = 0x80000000u;

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
};

class Image {
public:
    explicit Image(Bytes data) : data_(data) {}

    bool load()
    {
        if (data_.size() < 64 || data_[0] != 'M' || data_[1] != 'Z')
            return false;
        const auto peOffset = u32(data_, 0x3C);
        if (!peOffset)
            return false;
        const auto signature = u32(data_, *peOffset);
        if (!signature || *signature != 0x00004550u) // "PE\0\0"
            return false;
        const std::size_t coff = std::size_t{*peOffset} + 4;
        const auto sectionCount = u16(data_, coff + 2);
        const auto optionalSize = u16(data_, coff + 16);
        if (!sectionCount || !optionalSize)
            return false;
        const std::size_t optional = coff + 20;
        const auto magic = u16(data_, optional);
        if (!magic)
            return false;
        std::size_t countAt = 0;
        if (*magic == 0x10B)
            countAt = 92; // PE32
        else if (*magic == 0x20B)
            countAt = 108; // PE32+
        else
            return false;
        const std::size_t directories = countAt + 4;
        const std::size_t resourceEntry = directories + 2 * 8;
        const auto directoryCount = u32(data_, optional + countAt);
        if (!directoryCount || *directoryCount < 3 || *optionalSize < resourceEntry + 8)
            return false;
        const auto resourceRva = u32(data_, optional + resourceEntry);
        if (!resourceRva || *resourceRva == 0)
            return false;
        resourceRva_ = *resourceRva;

        const std::size_t table = optional + *optionalSize;
        for (std::size_t i = 0; i < *sectionCount; ++i) {
            const std::size_t at = table + i * 40;
            const auto va = u32(data_, at + 12);
            const auto rawSize = u32(data_, at + 16);
            const auto rawOffset = u32(data_, at + 20);
            if (!va || !rawSize || !rawOffset)
                return false;
            sections_.push_back({*va, *rawSize, *rawOffset});
        }
        return true;
    }

    // The file bytes from `rva` to the end of its section's data. A section whose data
    // runs past the end of the file gives nothing: the file is cut short or forged.
    std::optional<Bytes> fromRva(std::uint32_t rva) const
    {
        for (const Section &s : sections_) {
            if (rva < s.virtualAddress || rva - s.virtualAddress >= s.rawSize)
                continue;
            if (s.rawOffset > data_.size() || data_.size() - s.rawOffset < s.rawSize)
                return std::nullopt;
            const std::uint32_t into = rva - s.virtualAddress;
            return data_.subspan(std::size_t{s.rawOffset} + into, s.rawSize - into);
        }
        return std::nullopt;
    }

    std::uint32_t resourceRva() const { return resourceRva_; }

private:
    Bytes data_;
    std::vector<Section> sections_;
    std::uint32_t resourceRva_ = 0;
};

struct DirectoryEntry {
    std::uint32_t name;
    std::uint32_t target;
};

// Entry `index` of the resource directory at `offset`, or, with `wantedId`, the first
// entry with that numeric id.
std::optional<DirectoryEntry> directoryEntry(Bytes tree, std::size_t offset, std::optional<std::uint32_t> wantedId)
{
    const auto named = u16(tree, offset + 12);
    const auto ids = u16(tree, offset + 14);
    if (!named || !ids)
        return std::nullopt;
    const std::size_t count = std::size_t{*named} + *ids;
    for (std::size_t i = 0; i < count; ++i) {
        const auto name = u32(tree, offset + 16 + i * 8);
        const auto target = u32(tree, offset + 20 + i * 8);
        if (!name || !target)
            return std::nullopt;
        if (!wantedId || (!(*name & HighBit) && *name == *wantedId))
            return DirectoryEntry{*name, *target};
    }
    return std::nullopt;
}

std::optional<std::size_t> subdirectory(const DirectoryEntry &e)
{
    if (!(e.target & HighBit))
        return std::nullopt;
    return e.target & ~HighBit;
}

// One node of the version information: header, key, value, children.
struct Node {
    std::size_t start = 0;
    std::size_t end = 0; // start + wLength
    std::uint16_t valueLength = 0;
    std::uint16_t type = 0;
    std::size_t keyStart = 0;
    std::size_t keyUnits = 0;
    std::size_t valueStart = 0;
    std::size_t childrenStart = 0;
};

constexpr std::size_t align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

std::optional<Node> readNode(Bytes info, std::size_t at, std::size_t limit)
{
    const auto length = u16(info, at);
    const auto valueLength = u16(info, at + 2);
    const auto type = u16(info, at + 4);
    if (!length || !valueLength || !type || *length < 6 || limit < at || limit - at < *length)
        return std::nullopt;
    Node n;
    n.start = at;
    n.end = at + *length;
    n.valueLength = *valueLength;
    n.type = *type;
    n.keyStart = at + 6;
    std::size_t p = n.keyStart;
    for (;;) {
        if (p + 2 > n.end)
            return std::nullopt; // key without its terminator
        const auto unit = u16(info, p);
        if (!unit)
            return std::nullopt;
        p += 2;
        if (*unit == 0)
            break;
        ++n.keyUnits;
    }
    n.valueStart = align4(p);
    // Text values count their length in 16-bit units, binary ones in bytes.
    const std::size_t valueBytes = std::size_t{n.valueLength} * (n.type != 0 ? 2 : 1);
    n.childrenStart = align4(n.valueStart + valueBytes);
    return n;
}

bool keyEquals(Bytes info, const Node &n, std::string_view name)
{
    if (n.keyUnits != name.size())
        return false;
    auto fold = [](std::uint32_t c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; };
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto unit = u16(info, n.keyStart + 2 * i);
        if (!unit || fold(*unit) != fold(static_cast<unsigned char>(name[i])))
            return false;
    }
    return true;
}

std::optional<Node> findPath(Bytes info, std::string_view path)
{
    auto node = readNode(info, 0, info.size());
    if (!node)
        return std::nullopt;
    while (!path.empty()) {
        const std::size_t slash = path.find('\\');
        const std::string_view component = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
        if (component.empty())
            continue;
        std::optional<Node> found;
        for (std::size_t at = node->childrenStart; at < node->end;) {
            const auto child = readNode(info, at, node->end);
            if (!child)
                return std::nullopt;
            if (keyEquals(info, *child, component)) {
                found = child;
                break;
            }
            at = align4(child->end);
        }
        if (!found)
            return std::nullopt;
        node = found;
    }
    return node;
}

void appendUtf8(std::string &out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// The zero-terminated UTF-16 text from `from`, never past `end`, as UTF-8. A lone surrogate
// becomes U+FFFD.
std::string utf16Text(Bytes info, std::size_t from, std::size_t end)
{
    std::string out;
    std::size_t p = from;
    while (p + 2 <= end) {
        const auto unit = u16(info, p);
        if (!unit || *unit == 0)
            break;
        p += 2;
        std::uint32_t cp = *unit;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            const auto low = p + 2 <= end ? u16(info, p) : std::nullopt;
            if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
                p += 2;
            } else {
                cp = 0xFFFD;
            }
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

} // namespace

std::span<const std::uint8_t> versionResource(std::span<const std::uint8_t> image)
{
    Image pe(image);
    if (!pe.load())
        return {};
    const auto tree = pe.fromRva(pe.resourceRva());
    if (!tree)
        return {};
    const auto type = directoryEntry(*tree, 0, ResourceTypeVersion);
    const auto nameDir = type ? subdirectory(*type) : std::nullopt;
    const auto name = nameDir ? directoryEntry(*tree, *nameDir, std::nullopt) : std::nullopt;
    const auto languageDir = name ? subdirectory(*name) : std::nullopt;
    const auto language = languageDir ? directoryEntry(*tree, *languageDir, std::nullopt) : std::nullopt;
    if (!language || (language->target & HighBit))
        return {};
    const auto dataRva = u32(*tree, language->target);
    const auto dataSize = u32(*tree, std::size_t{language->target} + 4);
    if (!dataRva || !dataSize)
        return {};
    const auto data = pe.fromRva(*dataRva);
    if (!data || data->size() < *dataSize)
        return {};
    return data->first(*dataSize);
}

std::string queryVersionString(std::span<const std::uint8_t> versionInfo, std::string_view path)
{
    const auto node = findPath(versionInfo, path);
    // A length of 0 marks an empty value: nothing after the key belongs to it.
    if (!node || node->valueLength == 0 || node->valueStart >= node->end)
        return {};
    return utf16Text(versionInfo, node->valueStart, node->end);
}

std::string firstTranslation(std::span<const std::uint8_t> versionInfo)
{
    const auto node = findPath(versionInfo, "\\VarFileInfo\\Translation");
    if (!node || node->valueLength < 4 || node->valueStart > node->end || node->end - node->valueStart < 4)
        return {};
    const auto language = u16(versionInfo, node->valueStart);
    const auto codePage = u16(versionInfo, node->valueStart + 2);
    if (!language || !codePage)
        return {};
    char hex[9];
    std::snprintf(hex, sizeof hex, "%04X%04X", unsigned{*language}, unsigned{*codePage});
    return hex;
}

std::string fileVersionFromResource(std::span<const std::uint8_t> versionInfo)
{
    // Without a translation the table name is empty and the lookup finds nothing, as the
    // platform's does.
    return queryVersionString(versionInfo, "\\stringFileInfo\\" + firstTranslation(versionInfo) + "\\FileVersion");
}

std::string fileVersion(std::span<const std::uint8_t> image) { return fileVersionFromResource(versionResource(image)); }

} // namespace bramblet::pe
