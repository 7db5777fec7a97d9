#pragma once

#include "core/address.h"

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

// Our backup counts as ours while this file beside it exists: it covers the moments in which
// the backup is in place but the live file does not carry the marker (just before the
// redirection is written, and just after the earlier content went back).
inline constexpr const char *kClaimSuffix = ".bramblet-ours";
// The comment line that makes a hosts file recognisable as our redirection.
inline constexpr const char *kMarkerPrefix = "# Bramblet game link:";

// How the system writes its hosts file.
struct HostsStyle {
    std::string lineEnd = "\n";
    // Windows whose major version is 6 gets no STUN line; everything else always does.
    bool stunLine = true;
    // Linux keeps the earlier lines after the game's, so the machine still finds its own
    // names (127.0.1.1, ::1) during a link; Windows gets only the game's lines and localhost.
    bool keepEarlierLines = true;
};

// The plain dotted quad of address::isDottedQuad, under the name the hosts guard checks its
// two addresses with.
inline bool isDottedQuad(std::string_view text) { return address::isDottedQuad(text); }

std::string defaultHostsContent(const HostsStyle &style);
// The marker line naming the backup, then the game's lines; then either every line of
// `earlierContent` that names neither game host (kept byte for byte), or, where the style
// keeps none, "127.0.0.1  localhost".
std::string redirectedHostsContent(std::string_view gatewayAddress, std::string_view stunAddress,
                                   const HostsStyle &style, std::string_view earlierContent,
                                   const std::filesystem::path &backupPath);
// True when a line of `content` begins with the marker.
bool carriesMarker(std::string_view content);

std::filesystem::path backupPathFor(const std::filesystem::path &hostsPath);
std::filesystem::path tempPathFor(const std::filesystem::path &path);
std::filesystem::path claimPathFor(const std::filesystem::path &backupPath);

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
    // The file `path` names once symbolic links are followed (it need not exist); `path`
    // itself where it is no link.
    virtual std::filesystem::path resolveLinks(const std::filesystem::path &path) { return path; }
};

// Whose `hosts.bak` is there, as far as the files tell.
enum class BackupState {
    None,    // no backup, and the hosts file is not our redirection
    Ours,    // our backup of a redirection: restore() puts it back
    Foreign, // someone else's file: never restored, never deleted; a link start refuses
    Missing, // the hosts file is our redirection but its backup is gone: left as it is
};

// The game's redirection through the hosts file. The content the hosts file had before the
// first redirection is never lost: it is either still in the hosts file or in a backup that
// was verified before the hosts file was touched, and the backup goes only after the hosts
// file reads back equal to it.
//
// `hosts.bak` is ours only while the live file carries the marker line (or our claim file
// lies beside the backup); anyone else's is left alone. A hosts path that is a symbolic link
// stays one: the file it points at is replaced.
class HostsRedirect {
public:
    HostsRedirect(std::filesystem::path hostsPath, HostsStyle style, HostsFileOps &ops);

    const std::filesystem::path &hostsPath() const { return hostsPath_; }
    std::filesystem::path backupPath() const { return backupPathFor(hostsPath_); }
    const HostsStyle &style() const { return style_; }

    bool backupExists();
    // Reads the files; throws bramblet::Error when they cannot be read.
    BackupState backupState();

    // Backs the hosts file up and replaces it by the redirection to `gatewayAddress` and
    // `stunAddress`, first putting back a backup of ours that an earlier run left. Throws,
    // changing nothing, where backupState() is Foreign or Missing. On any other failure the
    // hosts file keeps (or gets back) its earlier content.
    void setGameIp(std::string_view gatewayAddress, std::string_view stunAddress);

    // Puts our backup back in place of the hosts file and deletes it. False, changing
    // nothing but our own stale temporary files, where backupState() is not Ours. A failure
    // leaves the backup where it is.
    bool restore();

    // Test hook: called between any two file operations with a short name of the point.
    std::function<void(std::string_view point)> checkpoint;

private:
    void mark(std::string_view point);
    // Replaces `target` by `content` (temp file, flush, rename; in place where rename is
    // refused), flushes the folder and checks that `target` reads back as `content`.
    void replaceVerified(const std::filesystem::path &target, const std::string &content,
                         const std::filesystem::path &like);
    // The backup, verified, then the claim, then the backup in place. Returns the content.
    std::string makeBackup(const std::filesystem::path &liveFile);
    void claim();
    void dropClaim();
    void removeStaleFiles(const std::filesystem::path &liveFile);

    std::filesystem::path hostsPath_;
    HostsStyle style_;
    HostsFileOps &ops_;
};

} // namespace bramblet::hosts
