#include "core/hostsfile.h"

#include "core/errors.h"

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

std::string redirectedHostsContent(std::string_view gatewayAddress, std::string_view stunAddress,
                                   const HostsStyle &style, std::string_view earlierContent,
                                   const fs::path &backupPath)
{
    std::string out;
    out.append(kMarkerPrefix)
        .append(" the earlier file is kept in ")
        .append(backupPath.string())
        .append(" and comes back when Bramblet closes")
        .append(style.lineEnd);
    out.append(gatewayAddress).append("  ").append(kGatewayHostName).append(style.lineEnd);
    if (style.stunLine)
        out.append(stunAddress).append("  ").append(kStunHostName).append(style.lineEnd);
    if (!style.keepEarlierLines) {
        out.append(kLocalhostLine).append(style.lineEnd);
        return out;
    }
    std::size_t pos = 0;
    while (pos < earlierContent.size()) {
        std::size_t next = earlierContent.find('\n', pos);
        next = next == std::string_view::npos ? earlierContent.size() : next + 1;
        const std::string_view line = earlierContent.substr(pos, next - pos);
        if (!namesGameHost(line)) {
            out.append(line);
            if (line.back() != '\n')
                out.append(style.lineEnd);
        }
        pos = next;
    }
    return out;
}

bool carriesMarker(std::string_view content)
{
    const std::string_view prefix = kMarkerPrefix;
    if (content.substr(0, prefix.size()) == prefix)
        return true;
    return content.find("\n" + std::string(prefix)) != std::string_view::npos;
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

BackupState HostsRedirect::backupState()
{
    const fs::path live = ops_.resolveLinks(hostsPath_);
    const bool marked = ops_.exists(live) && carriesMarker(ops_.read(live));
    if (ops_.exists(backupPath()))
        return marked || ops_.exists(claimPathFor(backupPath())) ? BackupState::Ours : BackupState::Foreign;
    return marked ? BackupState::Missing : BackupState::None;
}

void HostsRedirect::claim()
{
    ops_.writeTemp(claimPathFor(backupPath()),
                   "While this file exists, " + backupPath().string() + " is Bramblet's backup of the hosts file.\n",
                   fs::path());
    mark("claimed");
}

void HostsRedirect::dropClaim()
{
    try {
        ops_.remove(claimPathFor(backupPath()));
    } catch (...) {
        // Without a backup beside it a claim means nothing; the next restore clears it.
    }
    mark("claim dropped");
}

void HostsRedirect::removeStaleFiles(const fs::path &liveFile)
{
    // Temp files of a run killed while writing are stale: the files they were meant to
    // become are intact or already in place (a backup is renamed into place before the
    // hosts file is touched). Nothing of ours is being written now.
    for (const fs::path &p : {tempPathFor(liveFile), tempPathFor(backupPath())}) {
        try {
            ops_.remove(p);
        } catch (...) {
        }
    }
    if (!ops_.exists(backupPath()))
        dropClaim();
}

void HostsRedirect::replaceVerified(const fs::path &target, const std::string &content, const fs::path &like)
{
    const fs::path temp = tempPathFor(target);
    ops_.writeTemp(temp, content, like);
    mark("temp written");
    try {
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
    bool renamed = false;
    try {
        std::string original = ops_.read(liveFile);
        mark("hosts read");
        ops_.writeTemp(temp, original, liveFile);
        mark("backup temp written");
        if (ops_.read(temp) != original)
            throw Error(temp.string() + " does not read back as it was written");
        mark("backup verified");
        // From here until the hosts file carries the marker, only the claim says whose
        // backup this is.
        claim();
        if (ops_.rename(temp, backup) == HostsFileOps::RenameOutcome::Refused)
            throw Error("The system refused to rename " + temp.string() + " to " + backup.string());
        renamed = true;
        mark("backup renamed");
        ops_.syncFolder(backup);
        mark("backup folder synced");
        return original;
    } catch (const std::exception &e) {
        // The hosts file is still untouched. A backup not known to be good must not stay,
        // or a later restore would put it in place of the intact hosts file. The claim goes
        // last, so that a backup never stands without it.
        std::vector<fs::path> ours{temp};
        if (renamed)
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

    switch (backupState()) {
    case BackupState::Foreign:
        throw Error("The hosts file was left unchanged: " + backupPath().string() +
                    " is in the way and was not made by Bramblet");
    case BackupState::Missing:
        throw Error("The hosts file was left unchanged: it still carries Bramblet's redirection, but its backup " +
                    backupPath().string() + " is gone");
    case BackupState::Ours:
        // A backup left by a run that did not restore it holds the content from before any
        // redirection; it goes back first so the backup taken next holds that content too.
        restore();
        break;
    case BackupState::None:
        break;
    }

    // A link at the hosts path stays: the file it points at is the one replaced.
    const fs::path live = ops_.resolveLinks(hostsPath_);
    if (!ops_.exists(live)) {
        try {
            replaceVerified(live, defaultHostsContent(style_), fs::path());
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
        replaceVerified(live, redirectedHostsContent(gatewayAddress, stunAddress, style_, earlier, backupPath()),
                        live);
    } catch (const std::exception &e) {
        const std::string text = std::string("Cannot write the hosts file: ") + e.what();
        try {
            restore();
        } catch (...) {
            // The verified backup stays and is put back at close or at the next start.
        }
        throw Error(text);
    }
    // The marker now says whose backup it is.
    dropClaim();
}

bool HostsRedirect::restore()
{
    const fs::path backup = backupPath();
    const fs::path live = ops_.resolveLinks(hostsPath_);
    removeStaleFiles(live);
    if (backupState() != BackupState::Ours)
        return false;
    try {
        const std::string saved = ops_.read(backup);
        mark("backup read");
        // Once the earlier content is back the marker is gone; the claim keeps the backup
        // ours until it is deleted.
        claim();
        // The replacement keeps the attributes of the file it replaces; with the hosts file
        // gone, the backup carries the original's.
        const fs::path like = ops_.exists(live) ? live : backup;
        replaceVerified(live, saved, like);
    } catch (const std::exception &e) {
        throw Error("Cannot restore the hosts file from " + backup.string() + " (the backup was kept): " +
                    e.what());
    }
    ops_.remove(backup);
    mark("backup deleted");
    ops_.syncFolder(backup);
    mark("backup folder synced");
    dropClaim();
    return true;
}

} // namespace bramblet::hosts
