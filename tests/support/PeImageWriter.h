#pragma once

// Builds small Windows executables with a version resource, for the tests and the fuzz
// seeds of the version reader. Standard C++ only.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bramblet::test {

using ByteVector = std::vector<std::uint8_t>;

inline void putU16(ByteVector &out, std::size_t at, std::uint16_t v)
{
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void putU32(ByteVector &out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void appendU16(ByteVector &out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void padTo4(ByteVector &out)
{
    while (out.size() % 4)
        out.push_back(0);
}

// UTF-16 little-endian units of an ASCII or BMP text given as UTF-8 (enough for tests).
inline std::vector<std::uint16_t> utf16(std::string_view utf8)
{
    std::vector<std::uint16_t> units;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            units.push_back(c);
            i += 1;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            units.push_back(static_cast<std::uint16_t>(((c & 0x1F) << 6) | (utf8[i + 1] & 0x3F)));
            i += 2;
        } else if (i + 2 < utf8.size()) {
            units.push_back(static_cast<std::uint16_t>(((c & 0x0F) << 12) | ((utf8[i + 1] & 0x3F) << 6)
                                                       | (utf8[i + 2] & 0x3F)));
            i += 3;
        } else {
            break;
        }
    }
    return units;
}

// One node of a version information block.
struct VersionNode {
    std::string key;
    std::uint16_t type = 0;        // 1 text, 0 binary
    std::uint16_t valueLength = 0; // as written: 16-bit units for text, bytes for binary
    ByteVector value;
    std::vector<VersionNode> children;
};

inline VersionNode versionString(std::string key, std::string_view text)
{
    VersionNode n{std::move(key), 1, 0, {}, {}};
    const auto units = utf16(text);
    for (auto u : units)
        appendU16(n.value, u);
    appendU16(n.value, 0);
    n.valueLength = static_cast<std::uint16_t>(units.size() + 1);
    return n;
}

inline VersionNode stringTable(std::string hexKey, std::vector<VersionNode> strings)
{
    return VersionNode{std::move(hexKey), 1, 0, {}, std::move(strings)};
}

inline VersionNode stringFileInfo(std::vector<VersionNode> tables)
{
    return VersionNode{"StringFileInfo", 1, 0, {}, std::move(tables)};
}

// Translation entries as (language, code page).
inline VersionNode varFileInfo(std::vector<std::pair<std::uint16_t, std::uint16_t>> translations)
{
    VersionNode var{"Translation", 0, 0, {}, {}};
    for (const auto &[language, codePage] : translations) {
        appendU16(var.value, language);
        appendU16(var.value, codePage);
    }
    var.valueLength = static_cast<std::uint16_t>(var.value.size());
    return VersionNode{"VarFileInfo", 1, 0, {}, {var}};
}

inline VersionNode versionInfoRoot(std::vector<VersionNode> children)
{
    VersionNode root{"VS_VERSION_INFO", 0, 52, ByteVector(52, 0), std::move(children)};
    putU32(root.value, 0, 0xFEEF04BDu); // fixed file info signature
    putU32(root.value, 4, 0x00010000u);
    return root;
}

// Writes the node at the end of `out` (which must be 4-aligned) and returns its offset.
inline std::size_t writeVersionNode(ByteVector &out, const VersionNode &n)
{
    const std::size_t start = out.size();
    appendU16(out, 0); // wLength, filled in below
    appendU16(out, n.valueLength);
    appendU16(out, n.type);
    for (auto u : utf16(n.key))
        appendU16(out, u);
    appendU16(out, 0);
    padTo4(out);
    out.insert(out.end(), n.value.begin(), n.value.end());
    for (const auto &child : n.children) {
        padTo4(out);
        writeVersionNode(out, child);
    }
    putU16(out, start, static_cast<std::uint16_t>(out.size() - start));
    return start;
}

inline ByteVector versionBlock(const VersionNode &root)
{
    ByteVector out;
    writeVersionNode(out, root);
    return out;
}

// The usual block: one translation and one table with the given strings.
inline ByteVector simpleVersionBlock(std::string_view fileVersion, std::uint16_t language = 0x0804,
                                     std::uint16_t codePage = 0x04B0)
{
    char hex[9];
    static const char digits[] = "0123456789ABCDEF";
    const std::uint32_t v = (std::uint32_t{language} << 16) | codePage;
    for (int i = 0; i < 8; ++i)
        hex[i] = digits[(v >> (28 - 4 * i)) & 0xF];
    hex[8] = 0;
    return versionBlock(versionInfoRoot({
        stringFileInfo({stringTable(hex, {versionString("CompanyName", "Maker"),
                                          versionString("FileVersion", fileVersion),
                                          versionString("ProductVersion", "1.0")})}),
        varFileInfo({{language, codePage}}),
    }));
}

struct PeOptions {
    bool pe32Plus = false;
    bool codeSectionFirst = true; // a .text section before .rsrc
    std::uint32_t resourceVirtualAddress = 0x3000;
    std::uint16_t nameId = 1;
    std::uint16_t languageId = 0x0804;
    bool namedTypeFirst = false; // a named resource type before the numbered ones
};

// Where each structure of a built image starts.
struct PeLayout {
    std::size_t peHeader = 0;
    std::size_t coffHeader = 0;
    std::size_t optionalHeader = 0;
    std::size_t sectionTable = 0;
    std::size_t resourceSection = 0; // file offset of the resource root directory
    std::size_t nameDirectory = 0;
    std::size_t languageDirectory = 0;
    std::size_t dataEntry = 0;
    std::size_t versionInfo = 0;
    std::size_t end = 0;
};

// An image whose resource section, the last thing in the file, holds the version block.
// Every offset is fixed first and the image is allocated once: GCC 12 at -O3 misreads a vector
// that grows step by step here as written past its end.
inline ByteVector buildPe(const ByteVector &versionInfo, const PeOptions &o = {}, PeLayout *layoutOut = nullptr)
{
    const auto alignUp = [](std::size_t at, std::size_t to) { return (at + to - 1) / to * to; };
    const std::uint16_t sectionCount = o.codeSectionFirst ? 2 : 1;
    const std::uint16_t optionalSize = o.pe32Plus ? 240 : 224;

    PeLayout l;
    l.peHeader = 0x40;
    l.coffHeader = l.peHeader + 4;
    l.optionalHeader = l.coffHeader + 20;
    l.sectionTable = l.optionalHeader + optionalSize;
    const std::size_t codeSection = alignUp(l.sectionTable + 40u * sectionCount, 0x200);
    l.resourceSection = codeSection + (o.codeSectionFirst ? 0x200 : 0);

    // Resource tree, from its start: type directory (a named type first, when asked), name
    // directory, language directory, data entry, the named type's name, then the data.
    const std::size_t namedEntry = 16;
    const std::size_t typeEntry = namedEntry + (o.namedTypeFirst ? 8 : 0);
    const std::size_t nameDir = typeEntry + 8;
    const std::size_t nameEntry = nameDir + 16;
    const std::size_t languageDir = nameEntry + 8;
    const std::size_t languageEntry = languageDir + 16;
    const std::size_t dataEntry = languageEntry + 8;
    const std::size_t typeNameString = dataEntry + 16;
    const std::size_t data = alignUp(typeNameString + (o.namedTypeFirst ? 8 : 0), 4);
    const std::size_t treeSize = data + versionInfo.size();
    l.nameDirectory = l.resourceSection + nameDir;
    l.languageDirectory = l.resourceSection + languageDir;
    l.dataEntry = l.resourceSection + dataEntry;
    l.versionInfo = l.resourceSection + data;
    l.end = l.resourceSection + treeSize;

    ByteVector out(l.end, 0);
    out[0] = 'M';
    out[1] = 'Z';
    putU32(out, 0x3C, static_cast<std::uint32_t>(l.peHeader));
    out[l.peHeader] = 'P';
    out[l.peHeader + 1] = 'E';

    putU16(out, l.coffHeader, o.pe32Plus ? 0x8664 : 0x014C);
    putU16(out, l.coffHeader + 2, sectionCount);
    putU16(out, l.coffHeader + 16, optionalSize);
    putU16(out, l.coffHeader + 18, 0x0102);

    putU16(out, l.optionalHeader, o.pe32Plus ? 0x20B : 0x10B);
    const std::size_t countAt = l.optionalHeader + (o.pe32Plus ? 108 : 92);
    putU32(out, countAt, 16);
    const std::size_t resourceDirectory = countAt + 4 + 2 * 8;
    putU32(out, resourceDirectory, o.resourceVirtualAddress);
    putU32(out, resourceDirectory + 4, static_cast<std::uint32_t>(treeSize));

    auto section = [&](std::size_t header, std::string_view name, std::uint32_t size, std::uint32_t virtualAddress,
                       std::size_t raw) {
        std::copy(name.begin(), name.end(), out.begin() + static_cast<std::ptrdiff_t>(header));
        putU32(out, header + 8, size);
        putU32(out, header + 12, virtualAddress);
        putU32(out, header + 16, size);
        putU32(out, header + 20, static_cast<std::uint32_t>(raw));
    };
    std::size_t header = l.sectionTable;
    if (o.codeSectionFirst) {
        std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(codeSection), 0x200, std::uint8_t{0x90});
        section(header, ".text", 0x200, 0x1000, codeSection);
        header += 40;
    }
    section(header, ".rsrc", static_cast<std::uint32_t>(treeSize), o.resourceVirtualAddress, l.resourceSection);

    const std::size_t r = l.resourceSection;
    auto directory = [&](std::size_t at, std::uint16_t named, std::uint16_t ids) {
        putU16(out, r + at + 12, named);
        putU16(out, r + at + 14, ids);
    };
    auto entry = [&](std::size_t at, std::uint32_t name, std::uint32_t target) {
        putU32(out, r + at, name);
        putU32(out, r + at + 4, target);
    };
    constexpr std::uint32_t subdirectory = 0x80000000u;
    directory(0, o.namedTypeFirst ? 1 : 0, 1);
    if (o.namedTypeFirst) {
        // the named type leads to the name directory too: only the numbered one may be used
        entry(namedEntry, subdirectory | static_cast<std::uint32_t>(typeNameString),
              subdirectory | static_cast<std::uint32_t>(languageDir));
        const auto name = utf16("MUI");
        putU16(out, r + typeNameString, static_cast<std::uint16_t>(name.size()));
        for (std::size_t i = 0; i < name.size(); ++i)
            putU16(out, r + typeNameString + 2 + 2 * i, name[i]);
    }
    entry(typeEntry, 16, subdirectory | static_cast<std::uint32_t>(nameDir));
    directory(nameDir, 0, 1);
    entry(nameEntry, o.nameId, subdirectory | static_cast<std::uint32_t>(languageDir));
    directory(languageDir, 0, 1);
    entry(languageEntry, o.languageId, static_cast<std::uint32_t>(dataEntry));
    putU32(out, r + dataEntry, o.resourceVirtualAddress + static_cast<std::uint32_t>(data));
    putU32(out, r + dataEntry + 4, static_cast<std::uint32_t>(versionInfo.size()));
    std::copy(versionInfo.begin(), versionInfo.end(), out.begin() + static_cast<std::ptrdiff_t>(r + data));

    if (layoutOut)
        *layoutOut = l;
    return out;
}

} // namespace bramblet::test
