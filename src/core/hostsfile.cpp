#include "core/hostsfile.h"

#include "core/errors.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace bramblet::hosts {

namespace fs = std::filesystem;

std::string defaultHostsContent(const HostsStyle &style) { return std::string(kLocalhostLine) + style.lineEnd; }

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool sameHostName(std::string_view a, std::string_view b)
{
    // A trailing dot names the same host; host names ignore case.
    if (!a.empty() && a.back() == '.')
        a.remove_suffix(1);
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// Whether a hosts line maps one of the game's two host names (the address comes first, the
// names after it, a comment after "#").
bool namesGameHost(std::string_view line)
{
    line = line.substr(0, line.find('#'));
    bool first = true;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        std::size_t j = i;
        while (j < line.size() && !isBlank(line[j]))
            ++j;
        if (j > i) {
            const std::string_view field = line.substr(i, j - i);
            if (!first && (sameHostName(field, kGatewayHostName) || sameHostName(field, kStunHostName)))
                return true;
            first = false;
        }
        i = j;
    }
    return false;
}

} // namespace

namespace {

// A change of the hosts file between our read and our rename: read again and decide again.
class ChangedMeanwhile : public Error {
public:
    using Error::Error;
};

constexpr std::string_view kTagOpen = " (backup ";
constexpr std::string_view kHashOpen = ", lines ";

// Each line of `content` with its break, the last one possibly without.
template <class F>
void forEachLine(std::string_view content, F &&f)
{
    std::size_t pos = 0;
    while (pos < content.size()) {
        std::size_t next = content.find('\n', pos);
        next = next == std::string_view::npos ? content.size() : next + 1;
        f(content.substr(pos, next - pos));
        pos = next;
    }
}

bool isMarkerLine(std::string_view line) { return line.substr(0, std::string_view(kMarkerPrefix).size()) == kMarkerPrefix; }

// The marker line of `content`, without its break; empty where there is none.
std::string_view markerLine(std::string_view content)
{
    std::string_view found;
    forEachLine(content, [&](std::string_view line) {
        if (found.empty() && isMarkerLine(line))
            found = line;
    });
    while (!found.empty() && (found.back() == '\n' || found.back() == '\r'))
        found.remove_suffix(1);
    return found;
}

// The text between `open` and the next `close` in the marker line.
std::string markerField(std::string_view line, std::string_view open, char close)
{
    const std::size_t at = line.rfind(open);
    if (at == std::string_view::npos)
        return {};
    const std::string_view rest = line.substr(at + open.size());
    const std::size_t end = rest.find(close);
    return end == std::string_view::npos ? std::string() : std::string(rest.substr(0, end));
}

} // namespace

std::string contentHash(std::string_view content)
{
    // FNV-1a, 64 bits.
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : content) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    static const char digits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, h >>= 4)
        out[std::size_t(i)] = digits[h & 0xf];
    return out;
}

std::string backupTag(std::string_view identity, std::string_view content)
{
    return std::string(identity) + "/" + contentHash(content);
}

std::string redirectedHostsContent(std::string_view gatewayAddress, std::string_view stunAddress,
                                   const HostsStyle &style, std::string_view earlierContent,
                                   const fs::path &backupPath)
{
    std::string out;
    out.append(gatewayAddress).append("  ").append(kGatewayHostName).append(style.lineEnd);
    if (style.stunLine)
        out.append(stunAddress).append("  ").append(kStunHostName).append(style.lineEnd);
    if (!style.keepEarlierLines) {
        out.append(kLocalhostLine).append(style.lineEnd);
    } else {
        forEachLine(earlierContent, [&](std::string_view line) {
            if (!namesGameHost(line)) {
                out.append(line);
                if (line.back() != '\n')
                    out.append(style.lineEnd);
            }
        });
    }
    std::string marker(kMarkerPrefix);
    marker.append(" the earlier file is kept in ")
        .append(backupPath.string())
        .append(" and comes back when Bramblet closes")
        .append(kTagOpen)
        .append(contentHash(earlierContent))
        .append(kHashOpen)
        .append(contentHash(out))
        .append(")")
        .append(style.lineEnd);
    return marker + out;
}

bool carriesMarker(std::string_view content) { return !markerLine(content).empty(); }

std::string markedBackupHash(std::string_view content) { return markerField(markerLine(content), kTagOpen, ','); }

bool exactlyAsRedirected(std::string_view content)
{
    const std::size_t firstBreak = content.find('\n');
    if (!isMarkerLine(content) || firstBreak == std::string_view::npos)
        return false;
    const std::string hash = markerField(markerLine(content), kHashOpen, ')');
    return !hash.empty() && hash == contentHash(content.substr(firstBreak + 1));
}

std::string withoutRedirection(std::string_view content, std::string_view earlierContent, std::string_view lineEnd)
{
    std::string earlierGameLines;
    forEachLine(earlierContent, [&](std::string_view line) {
        if (namesGameHost(line)) {
            earlierGameLines.append(line);
            if (line.back() != '\n')
                earlierGameLines.append(lineEnd);
        }
    });
    std::string out;
    bool putBack = false;
    forEachLine(content, [&](std::string_view line) {
        if (isMarkerLine(line) && !putBack) {
            out.append(earlierGameLines);
            putBack = true;
        }
        if (!isMarkerLine(line) && !namesGameHost(line))
            out.append(line);
    });
    if (!putBack)
        out.append(earlierGameLines);
    return out;
}
fs::path backupPathFor(const fs::path &hostsPath)
{
    fs::path p = hostsPath;
    p += kBackupSuffix;
    return p;
}

fs::path tempPathFor(const fs::path &path)
{
    fs::path p = path;
    p += kTempSuffix;
    return p;
}

fs::path claimPathFor(const fs::path &backupPath)
{
    fs::path p = backupPath;
    p += kClaimSuffix;
    return p;
}

HostsRedirect::HostsRedirect(fs::path hostsPath, HostsStyle style, HostsFileOps &ops)
    : hostsPath_(std::move(hostsPath)), style_(std::move(style)), ops_(ops)
{
}

void HostsRedirect::mark(std::string_view point)
{
    if (checkpoint)
        checkpoint(point);
}

bool HostsRedirect::backupExists() { return ops_.exists(backupPath()); }

std::string HostsRedirect::currentBackupTag()
{
    const fs::path backup = backupPath();
    const std::string identity = ops_.identity(backup);
    return backupTag(identity, ops_.read(backup));
}

std::string HostsRedirect::claimedTag()
{
    const fs::path claimPath = claimPathFor(backupPath());
    if (!ops_.exists(claimPath))
        return {};
    const std::string text = ops_.read(claimPath);
    const std::size_t at = text.rfind("\nbackup ");
    if (at == std::string::npos || text.back() != '\n')
        return {};
    return text.substr(at + 8, text.size() - at - 9);
}

BackupState HostsRedirect::backupState()
{
    const fs::path live = ops_.resolveLinks(hostsPath_);
    const std::string marked = ops_.exists(live) ? ops_.read(live) : std::string();
    if (ops_.exists(backupPath())) {
        const std::string identity = ops_.identity(backupPath());
        const std::string saved = ops_.read(backupPath());
        const std::string tag = backupTag(identity, saved);
        // The guard that made the backup knows it, whatever the files say now.
        if (markedBackupHash(marked) == contentHash(saved) || claimedTag() == tag || tag == madeBackup_)
            return BackupState::Ours;
    }
    // A marker whose backup is gone (or is somebody else's file now) never adopts one.
    if (carriesMarker(marked))
        return BackupState::Missing;
    if (ops_.exists(backupPath()))
        return BackupState::Foreign;
    for (const fs::path &p : {tempPathFor(live), tempPathFor(backupPath()), claimPathFor(backupPath())}) {
        if (ops_.exists(p))
            return BackupState::Leftover;
    }
    return BackupState::None;
}

void HostsRedirect::claim(const std::string &tag)
{
    const fs::path claimPath = claimPathFor(backupPath());
    const std::string text =
        "While this file exists, the file named below is Bramblet's backup of the hosts file.\nbackup " + tag + "\n";
    ops_.writeTemp(claimPath, text, fs::path());
    if (ops_.read(claimPath) != text)
        throw Error(claimPath.string() + " does not read back as it was written");
    mark("claimed");
}

void HostsRedirect::dropClaim()
{
    try {
        ops_.remove(claimPathFor(backupPath()));
        ops_.syncFolder(backupPath());
    } catch (...) {
        // A claim that names no backup is cleared by the next guard, and honoured by none.
    }
    mark("claim dropped");
}

void HostsRedirect::removeStaleFiles(const fs::path &liveFile)
{
    // Temp files of a run killed while writing are stale: the files they were meant to
    // become are intact or already in place (a backup is put in place before the hosts
    // file is touched). Nothing of ours is being written now.
    for (const fs::path &p : {tempPathFor(liveFile), tempPathFor(backupPath())}) {
        try {
            ops_.remove(p);
        } catch (...) {
        }
    }
    if (!ops_.exists(claimPathFor(backupPath())))
        return;
    if (!ops_.exists(backupPath()) || claimedTag() != currentBackupTag())
        dropClaim();
}

void HostsRedirect::replaceVerified(const fs::path &target, const std::string &content, const fs::path &like,
                                    const std::string &expected)
{
    const fs::path temp = tempPathFor(target);
    ops_.writeTemp(temp, content, like);
    mark("temp written");
    try {
        // What we decided on was read from the file as it was; a file somebody wrote since
        // is read again rather than overwritten.
        if (!expected.empty() && (!ops_.exists(target) || ops_.identity(target) != expected))
            throw ChangedMeanwhile(target.string() + " was changed by someone else while Bramblet was writing it");
        if (ops_.rename(temp, target) == HostsFileOps::RenameOutcome::Refused) {
            mark("rename refused");
            ops_.remove(temp);
            mark("temp removed");
            ops_.rewriteInPlace(target, content);
            mark("rewritten in place");
        } else {
            mark("renamed");
        }
    } catch (...) {
        try {
            ops_.remove(temp);
        } catch (...) {
            // A stale temp file is harmless: the next write replaces it.
        }
        throw;
    }
    ops_.syncFolder(target);
    mark("folder synced");
    if (ops_.read(target) != content)
        throw Error(target.string() + " does not read back as it was written");
    mark("read back");
}

std::string HostsRedirect::makeBackup(const fs::path &liveFile)
{
    const fs::path backup = backupPath();
    const fs::path temp = tempPathFor(backup);
    bool placed = false;
    try {
        std::string original = ops_.read(liveFile);
        mark("hosts read");
        // Our own redirection is never anybody's earlier file.
        if (carriesMarker(original))
            throw Error(liveFile.string() + " carries a Bramblet redirection and is not taken as the earlier file");
        ops_.writeTemp(temp, original, liveFile);
        mark("backup temp written");
        if (ops_.read(temp) != original)
            throw Error(temp.string() + " does not read back as it was written");
        mark("backup verified");
        // The claim names this very file; the name it is put in place under is only taken
        // where nobody's file stands.
        madeBackup_ = backupTag(ops_.identity(temp), original);
        claim(madeBackup_);
        if (ops_.placeNew(temp, backup) == HostsFileOps::PlaceOutcome::Occupied)
            throw Error(backup.string() + " appeared meanwhile and was not made by Bramblet");
        placed = true;
        mark("backup renamed");
        ops_.syncFolder(backup);
        mark("backup folder synced");
        return original;
    } catch (const std::exception &e) {
        // The hosts file is still untouched. A backup not known to be good must not stay,
        // or a later restore would put it in place of the intact hosts file. The claim goes
        // last, so that a backup never stands without it.
        std::vector<fs::path> ours{temp};
        if (placed)
            ours.push_back(backup);
        ours.push_back(claimPathFor(backup));
        for (const fs::path &p : ours) {
            try {
                ops_.remove(p);
            } catch (...) {
            }
        }
        throw Error(std::string("The hosts file was left unchanged because its backup could not be made: ") +
                    e.what());
    }
}

void HostsRedirect::setGameIp(std::string_view gatewayAddress, std::string_view stunAddress)
{
    for (std::string_view address : {gatewayAddress, stunAddress}) {
        if (!isDottedQuad(address))
            throw Error("Not an IPv4 address in dotted-quad form: \"" + std::string(address) + "\"");
    }

    BackupState state = backupState();
    if (state == BackupState::Missing && !style_.keepEarlierLines)
        throw Error("The hosts file was left unchanged: it still carries Bramblet's redirection, but its backup " +
                    backupPath().string() + " is gone");
    if (state == BackupState::Ours || state == BackupState::Missing) {
        // A backup left by a run that did not restore it holds the content from before any
        // redirection; it goes back first so the backup taken next holds that content too.
        restore();
        state = backupState();
    }
    if (state == BackupState::Foreign)
        throw Error("The hosts file was left unchanged: " + backupPath().string() +
                    " is in the way and was not made by Bramblet");

    // A link at the hosts path stays: the file it points at is the one replaced.
    const fs::path live = ops_.resolveLinks(hostsPath_);
    // A file that cannot be replaced is found out before anything is written beside it.
    ops_.checkReplaceable(live);
    if (!ops_.exists(live)) {
        try {
            replaceVerified(live, defaultHostsContent(style_), fs::path(), {});
        } catch (const std::exception &e) {
            // There was no file before; one that does not read back right must not stay.
            try {
                ops_.remove(live);
            } catch (...) {
            }
            throw Error(std::string("Cannot create the hosts file: ") + e.what());
        }
        mark("default written");
    }
    removeStaleFiles(live);

    const std::string earlier = makeBackup(live);

    try {
        replaceVerified(live, redirectedHostsContent(gatewayAddress, stunAddress, style_, earlier, backupPath()), live,
                        {});
    } catch (const std::exception &e) {
        const std::string text = std::string("Cannot write the hosts file: ") + e.what();
        try {
            // What stands there now is our own failed write, whatever it reads as.
            ownWrite_ = true;
            restore();
        } catch (...) {
            // The verified backup stays and is put back at close or at the next start.
        }
        throw Error(text);
    }
    // The marker now names the backup.
    dropClaim();
}

void HostsRedirect::handOver(const fs::path &live)
{
    const fs::path backup = backupPath();
    fs::path kept = hostsPath_;
    kept += kHandedOverSuffix;
    for (int n = 2; n <= 100 && ops_.placeNew(backup, kept) == HostsFileOps::PlaceOutcome::Occupied; ++n) {
        kept = hostsPath_;
        kept += std::string(kHandedOverSuffix) + "." + std::to_string(n);
        if (n == 100)
            throw Error(live.string() + " no longer carries Bramblet's redirection; the earlier file was left in " +
                        backup.string());
    }
    mark("backup handed over");
    ops_.syncFolder(kept);
    dropClaim();
    throw Error(live.string() + " was changed during the link and no longer carries Bramblet's redirection; it was "
                                "left as it is, and the file from before the link is kept in " +
                kept.string());
}

Restored HostsRedirect::putBack(const fs::path &live, bool backupOurs)
{
    const fs::path backup = backupPath();
    const std::string saved = backupOurs ? ops_.read(backup) : std::string();
    mark("backup read");
    if (backupOurs) {
        // Once the earlier content is back the marker is gone; a backup that only the marker
        // named gets its claim now (once), so it stays ours until it is deleted.
        const std::string tag = backupTag(ops_.identity(backup), saved);
        if (claimedTag() != tag)
            claim(tag);
    }
    // Somebody may write the hosts file while we do (a hosts manager, a container tool):
    // their write wins, and the decision is made again on what they wrote.
    for (int attempt = 0;; ++attempt) {
        const bool there = ops_.exists(live);
        const std::string identity = there ? ops_.identity(live) : std::string();
        const std::string current = there ? ops_.read(live) : std::string();
        if (backupOurs && there && current == saved)
            return Restored::Backup; // nothing to write: it is the earlier file already
        std::string content = saved;
        Restored outcome = Restored::Backup;
        if (!backupOurs) {
            if (!carriesMarker(current))
                return Restored::Nothing;
            content = withoutRedirection(current, {}, style_.lineEnd);
            outcome = Restored::Repaired;
        } else if (there && !ownWrite_ && !exactlyAsRedirected(current)) {
            if (!carriesMarker(current))
                handOver(live);
            content = withoutRedirection(current, saved, style_.lineEnd);
            if (content != saved)
                outcome = Restored::ChangesKept;
        }
        try {
            // The replacement keeps the attributes of the file it replaces; with the hosts
            // file gone, the backup carries the original's.
            replaceVerified(live, content, there ? live : backup, identity);
            ownWrite_ = false;
            return outcome;
        } catch (const ChangedMeanwhile &) {
            if (attempt == 4)
                throw;
        } catch (...) {
            // A write of ours that failed once in place is ours to write over next time.
            try {
                ownWrite_ = ownWrite_ || !ops_.exists(live) || ops_.identity(live) != identity;
            } catch (...) {
            }
            throw;
        }
    }
}

Restored HostsRedirect::restore()
{
    const fs::path backup = backupPath();
    const fs::path live = ops_.resolveLinks(hostsPath_);
    removeStaleFiles(live);
    const BackupState state = backupState();
    if (state == BackupState::Missing) {
        if (!style_.keepEarlierLines)
            return Restored::Nothing;
        // Without a backup the rest of the file is the earlier content: our lines come out.
        try {
            return putBack(live, false);
        } catch (const std::exception &e) {
            throw Error(std::string("Cannot take Bramblet's redirection out of the hosts file: ") + e.what());
        }
    }
    if (state != BackupState::Ours)
        return Restored::Nothing;
    Restored outcome;
    try {
        outcome = putBack(live, true);
    } catch (const std::exception &e) {
        if (!ops_.exists(backup))
            throw; // handed over: the text says where the earlier file is
        throw Error("Cannot restore the hosts file from " + backup.string() + " (the backup was kept): " +
                    e.what());
    }
    ops_.remove(backup);
    mark("backup deleted");
    ops_.syncFolder(backup);
    mark("backup folder synced");
    dropClaim();
    return outcome;
}

} // namespace bramblet::hosts
