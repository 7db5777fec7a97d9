#pragma once

// Reads the FileVersion text of a Windows executable's version resource, on any system.
//
// The path through the file: DOS header, PE header, section table, resource directory, the
// version resource (type 16, its first name, that name's first language), then inside the
// version information the first entry of \VarFileInfo\Translation and the FileVersion
// string of the StringFileInfo table named after it. Every read is checked against the
// bytes given: truncated, hostile or non-PE data gives empty text.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace bramblet::pe {

// The FileVersion of the executable image held in `image` (the whole file), exactly as
// stored, converted from UTF-16 to UTF-8; empty when there is none or the data is damaged.
// GetFileVersion(path) is this over the file's bytes.
std::string fileVersion(std::span<const std::uint8_t> image);

// The version information block (VS_VERSIONINFO) of the image, or an empty span. The span
// points into `image`.
std::span<const std::uint8_t> versionResource(std::span<const std::uint8_t> image);

// The FileVersion of a version information block, as found by the first translation entry;
// the same block that GetFileVersionInfo gives on Windows.
std::string fileVersionFromResource(std::span<const std::uint8_t> versionInfo);

// The value text at `path` in a version information block, looked up the way
// VerQueryValue does it: components separated by backslashes, empty components skipped,
// keys compared without regard to ASCII case. Empty when the path does not lead to a value.
std::string queryVersionString(std::span<const std::uint8_t> versionInfo, std::string_view path);

// The first translation entry as 8 upper-case hexadecimal digits, language then code page
// ("080404B0"); empty when \VarFileInfo\Translation is missing or shorter than one entry.
std::string firstTranslation(std::span<const std::uint8_t> versionInfo);

} // namespace bramblet::pe
