#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace bramblet::hosts {

// The host names the game looks up for its online service. Our hosts file points them at
// the SERVER side (gateway) and at this machine (STUN).
inline constexpr const char *kGatewayHostName = "gate.quorrel2008.net";
inline constexpr const char *kStunHostName = "stun.quorrel2008.net";

inline constexpr const char *kLocalhostLine = "127.0.0.1  localhost";
inline constexpr const char *kBackupSuffix = ".bak";
// Files are written under this suffix first and renamed into place, so a kill at any
// moment leaves either the old file or the complete new one.
inline constexpr const char *kTempSuffix = ".bramblet-new";

// How the system writes its hosts file.
struct HostsStyle {
    std::string lineEnd = "\n";
    // Windows whose major version is 6 gets no STUN line; everything else always does.
    bool stunLine = true;
};

// Four decimal parts of 0 to 255, no sign, no blanks, no leading zeros (a leading zero
// reads as octal to some parsers of the hosts file).
bool isDottedQuad(std::string_view text);

std::string defaultHostsContent(const HostsStyle &style);
std::string redirectedHostsContent(std::string_view gatewayAddress, std::string_view stunAddress,
                                   const HostsStyle &style);

std::filesystem::path backupPathFor(const std::filesystem::path &hostsPath);
std::filesystem::path tempPathFor(const std::filesystem::path &path);

// The file operations the redirect is built from. The platform supplies the real ones;
// each throws bramblet::Error carrying the system's text when it fails.
class HostsFileOps {
public:
    virtual ~HostsFileOps() = default;

    enum class RenameOutcome { Done, Refused };

    virtual bool exists(const std::filesystem::path &path) = 0;
    virtual std::string read(const std::filesystem::path &path) = 0;
    // Creates `path` afresh (a stale file of that name is replaced), readable only by its
    // owner while it is written, flushes it to disk and then gives it the owner, group and
    // mode of `like`; an empty `like` gives the system's usual hosts-file mode.
    virtual void writeTemp(const std::filesystem::path &path, std::string_view content,
                           const std::filesystem::path &like) = 0;
    // Atomically puts `from` in place of `to`. Refused where the system cannot rename over
    // `to` (a bind-mounted hosts file, a file in use); then `from` is still there.
    virtual RenameOutcome rename(const std::filesystem::path &from, const std::filesystem::path &to) = 0;
    // Overwrites `path` where it stands, keeping its owner, group and mode, and flushes it.
    virtual void rewriteInPlace(const std::filesystem::path &path, std::string_view content) = 0;
    // Deletes `path`; a missing file is not an error.
    virtual void remove(const std::filesystem::path &path) = 0;
    // Flushes the folder holding `path`, so a rename or delete there survives a power cut.
    virtual void syncFolder(const std::filesystem::path &path) = 0;
};

// The game's redirection through the hosts file. The content the hosts file had before the
// first redirection is never lost: it is either still in the hosts file or in a backup that
// was verified before the hosts file was touched, and the backup goes only after the hosts
// file reads back equal to it.
class HostsRedirect {
public:
    HostsRedirect(std::filesystem::path hostsPath, HostsStyle style, HostsFileOps &ops);

    const std::filesystem::path &hostsPath() const { return hostsPath_; }
    std::filesystem::path backupPath() const { return backupPathFor(hostsPath_); }
    const HostsStyle &style() const { return style_; }

    bool backupExists();

    // Backs the hosts file up and replaces it by the redirection to `gatewayAddress` and
    // `stunAddress`. On failure the hosts file keeps (or gets back) its earlier content.
    void setGameIp(std::string_view gatewayAddress, std::string_view stunAddress);

    // Puts the backup back in place of the hosts file and deletes it. False when there is
    // no backup. A failure leaves the backup where it is.
    bool restore();

    // Test hook: called between any two file operations with a short name of the point.
    std::function<void(std::string_view point)> checkpoint;

private:
    void mark(std::string_view point);
    // Replaces `target` by `content` (temp file, flush, rename; in place where rename is
    // refused), flushes the folder and checks that `target` reads back as `content`.
    void replaceVerified(const std::filesystem::path &target, const std::string &content,
                         const std::filesystem::path &like);
    void makeBackup();

    std::filesystem::path hostsPath_;
    HostsStyle style_;
    HostsFileOps &ops_;
};

} // namespace bramblet::hosts
