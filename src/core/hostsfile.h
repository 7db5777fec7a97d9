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

// The claim beside the backup names the one backup it vouches for (see backupTag) while the
// hosts file's marker does not: before the redirection is written, and while the earlier
// content goes back. Each is written once and never changed; a claim that names another
// file is removed, never honoured.
inline constexpr const char *kClaimSuffix = ".bramblet-ours";
// Where a backup of ours goes when the hosts file lost our marker during a link: it is the
// player's earlier file now, kept under a name no later link takes.
inline constexpr const char *kHandedOverSuffix = ".bramblet-earlier";
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
// keeps none, "127.0.0.1  localhost". The marker carries the hash of `earlierContent` (so a
// stale marker adopts no other backup) and the hash of the lines after it (so a restore can
// tell whether anyone changed them).
std::string redirectedHostsContent(std::string_view gatewayAddress, std::string_view stunAddress,
                                   const HostsStyle &style, std::string_view earlierContent,
                                   const std::filesystem::path &backupPath);
// True when a line of `content` begins with the marker.
bool carriesMarker(std::string_view content);
// The hash of the backup's content the marker of `content` carries; empty where there is none.
std::string markedBackupHash(std::string_view content);
// True when `content` is byte for byte what redirectedHostsContent wrote.
bool exactlyAsRedirected(std::string_view content);
// `content` without what a redirection put in (the marker line and every line naming a game
// host), the lines of `earlierContent` that named a game host back where the marker was,
// everything else as it stands.
std::string withoutRedirection(std::string_view content, std::string_view earlierContent,
                               std::string_view lineEnd);

// A short hash of `content` (not secret: it tells edits apart, not attackers).
std::string contentHash(std::string_view content);
// What names one backup file: the file system's identity of it (HostsFileOps::identity) and
// the hash of its content. An administrator's later copy has another identity.
std::string backupTag(std::string_view identity, std::string_view content);

std::filesystem::path backupPathFor(const std::filesystem::path &hostsPath);
std::filesystem::path tempPathFor(const std::filesystem::path &path);
std::filesystem::path claimPathFor(const std::filesystem::path &backupPath);

// The file operations the redirect is built from. The platform supplies the real ones;
// each throws bramblet::Error carrying the system's text when it fails.
class HostsFileOps {
public:
    virtual ~HostsFileOps() = default;

    enum class RenameOutcome { Done, Refused };
    enum class PlaceOutcome { Done, Occupied };

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
    // Puts `from` at `to` only where nothing is at `to` (never replacing a file); Occupied
    // leaves both as they are.
    virtual PlaceOutcome placeNew(const std::filesystem::path &from, const std::filesystem::path &to) = 0;
    // The file system's identity of `path` (device, inode, size, modification time); it
    // changes whenever anyone replaces or writes the file.
    virtual std::string identity(const std::filesystem::path &path) = 0;
    // Throws, with the reason, where `path` could not be replaced or written (immutable,
    // read-only file system). A missing file is checked for its folder.
    virtual void checkReplaceable(const std::filesystem::path &) {}
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
    None,     // no backup, and the hosts file is not our redirection
    Ours,     // our backup of a redirection (the claim or the marker names it): restore() puts it back
    Foreign,  // someone else's file: never restored, never deleted; a link start refuses
    Missing,  // the hosts file is our redirection but its backup is gone: restore() takes our lines out
    Leftover, // nothing to put back, but stale files of ours (a temp file, a claim) to clear
};

// What a restore did.
enum class Restored {
    Nothing,     // there was nothing of ours to put back
    Backup,      // the backup came back byte for byte
    ChangesKept, // the hosts file was changed during the link: only our lines came out
    Repaired,    // the backup was gone: our lines came out of the hosts file
};

// The game's redirection through the hosts file. The content the hosts file had before the
// first redirection is never lost: it is either still in the hosts file or in a backup that
// was verified before the hosts file was touched, and the backup goes only after the hosts
// file reads back equal to it.
//
// `hosts.bak` is ours only while the marker of the live file or our claim beside it names
// that very file; anyone else's is left alone. A hosts path that is a symbolic link
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

    // Puts our backup back in place of the hosts file and deletes it; where the hosts file
    // was changed during the link, only our lines come out and the changes stay. Nothing,
    // changing nothing but our own stale files, where backupState() is neither Ours nor
    // Missing. A failure leaves the backup where it is; a hosts file without our marker
    // (someone took it out) is left as it is, and the backup moves to kHandedOverSuffix.
    Restored restore();

    // Test hook: called between any two file operations with a short name of the point.
    std::function<void(std::string_view point)> checkpoint;

private:
    void mark(std::string_view point);
    // Replaces `target` by `content` (temp file, flush, rename; in place where rename is
    // refused), flushes the folder and checks that `target` reads back as `content`.
    // `expected`, where given, is the identity `target` must still have just before it is
    // replaced; anyone's write in between fails with ChangedMeanwhile.
    void replaceVerified(const std::filesystem::path &target, const std::string &content,
                         const std::filesystem::path &like, const std::string &expected);
    // The backup, verified, then its claim, then the backup in place. Returns the content.
    std::string makeBackup(const std::filesystem::path &liveFile);
    void claim(const std::string &tag);
    std::string claimedTag();
    void dropClaim();
    void removeStaleFiles(const std::filesystem::path &liveFile);
    std::string currentBackupTag();
    Restored putBack(const std::filesystem::path &live, bool backupOurs);
    [[noreturn]] void handOver(const std::filesystem::path &live);

    std::filesystem::path hostsPath_;
    HostsStyle style_;
    HostsFileOps &ops_;
    // The hosts file holds a write of ours that failed: the backup goes back over it.
    bool ownWrite_ = false;
    // The tag of the backup this object made; it stays ours even where someone took the
    // marker out of the hosts file.
    std::string madeBackup_;
};

} // namespace bramblet::hosts
