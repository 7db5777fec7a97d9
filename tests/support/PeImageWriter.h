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
inline ByteVector buildPe(const ByteVector &versionInfo, const PeOptions &o = {}, PeLayout *layoutOut = nullptr)
{
    PeLayout l;
    ByteVector out(0x40, 0);
    out[0] = 'M';
    out[1] = 'Z';
    l.peHeader = 0x40;
    putU32(out, 0x3C, static_cast<std::uint32_t>(l.peHeader));
    out.insert(out.end(), {'P', 'E', 0, 0});

    const std::uint16_t sectionCount = o.codeSectionFirst ? 2 : 1;
    const std::uint16_t optionalSize = o.pe32Plus ? 240 : 224;
    l.coffHeader = out.size();
    out.resize(out.size() + 20, 0);
    putU16(out, l.coffHeader, o.pe32Plus ? 0x8664 : 0x014C);
    putU16(out, l.coffHeader + 2, sectionCount);
    putU16(out, l.coffHeader + 16, optionalSize);
    putU16(out, l.coffHeader + 18, 0x0102);

    l.optionalHeader = out.size();
    out.resize(out.size() + optionalSize, 0);
    putU16(out, l.optionalHeader, o.pe32Plus ? 0x20B : 0x10B);
    const std::size_t countAt = l.optionalHeader + (o.pe32Plus ? 108 : 92);
    putU32(out, countAt, 16);
    const std::size_t resourceDirectory = countAt + 4 + 2 * 8;

    l.sectionTable = out.size();
    out.resize(out.size() + 40u * sectionCount, 0);
    while (out.size() % 0x200)
        out.push_back(0);

    std::size_t header = l.sectionTable;
    if (o.codeSectionFirst) {
        const std::size_t raw = out.size();
        out.resize(out.size() + 0x200, 0x90);
        std::copy_n(".text", 5, out.begin() + static_cast<std::ptrdiff_t>(header));
        putU32(out, header + 8, 0x200);
        putU32(out, header + 12, 0x1000);
        putU32(out, header + 16, 0x200);
        putU32(out, header + 20, static_cast<std::uint32_t>(raw));
        header += 40;
    }

    // Resource tree: type directory, name directory, language directory, data entry, data.
    l.resourceSection = out.size();
    ByteVector tree;
    auto directory = [&](std::uint16_t named, std::uint16_t ids) {
        const std::size_t at = tree.size();
        tree.resize(at + 16, 0);
        putU16(tree, at + 12, named);
        putU16(tree, at + 14, ids);
        return at;
    };
    auto entry = [&](std::uint32_t name, std::uint32_t target) {
        const std::size_t at = tree.size();
        tree.resize(at + 8, 0);
        putU32(tree, at, name);
        putU32(tree, at + 4, target);
        return at;
    };
    directory(o.namedTypeFirst ? 1 : 0, 1);
    const std::size_t namedEntry = o.namedTypeFirst ? entry(0x80000000u, 0) : 0;
    const std::size_t typeEntry = entry(16, 0);
    const std::size_t nameDir = directory(0, 1);
    const std::size_t nameEntry = entry(o.nameId, 0);
    const std::size_t languageDir = directory(0, 1);
    const std::size_t languageEntry = entry(o.languageId, 0);
    const std::size_t dataEntry = tree.size();
    tree.resize(tree.size() + 16, 0);
    std::size_t typeNameString = 0;
    if (o.namedTypeFirst) {
        typeNameString = tree.size();
        appendU16(tree, 3);
        for (auto u : utf16("MUI"))
            appendU16(tree, u);
        // the named type leads to the name directory too: only the numbered one may be used
    }
    padTo4(tree);
    const std::size_t data = tree.size();
    tree.insert(tree.end(), versionInfo.begin(), versionInfo.end());
    if (o.namedTypeFirst) {
        putU32(tree, namedEntry, 0x80000000u | static_cast<std::uint32_t>(typeNameString));
        putU32(tree, namedEntry + 4, 0x80000000u | static_cast<std::uint32_t>(languageDir));
    }
    putU32(tree, typeEntry + 4, 0x80000000u | static_cast<std::uint32_t>(nameDir));
    putU32(tree, nameEntry + 4, 0x80000000u | static_cast<std::uint32_t>(languageDir));
    putU32(tree, languageEntry + 4, static_cast<std::uint32_t>(dataEntry));
    putU32(tree, dataEntry, o.resourceVirtualAddress + static_cast<std::uint32_t>(data));
    putU32(tree, dataEntry + 4, static_cast<std::uint32_t>(versionInfo.size()));

    std::copy_n(".rsrc", 5, out.begin() + static_cast<std::ptrdiff_t>(header));
    putU32(out, header + 8, static_cast<std::uint32_t>(tree.size()));
    putU32(out, header + 12, o.resourceVirtualAddress);
    putU32(out, header + 16, static_cast<std::uint32_t>(tree.size()));
    putU32(out, header + 20, static_cast<std::uint32_t>(l.resourceSection));
    putU32(out, resourceDirectory, o.resourceVirtualAddress);
    putU32(out, resourceDirectory + 4, static_cast<std::uint32_t>(tree.size()));
    out.insert(out.end(), tree.begin(), tree.end());

    l.nameDirectory = l.resourceSection + nameDir;
    l.languageDirectory = l.resourceSection + languageDir;
    l.dataEntry = l.resourceSection + dataEntry;
    l.versionInfo = l.resourceSection + data;
    l.end = out.size();
    if (layoutOut)
        *layoutOut = l;
    return out;
}

} // namespace bramblet::test
