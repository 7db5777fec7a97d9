#include "core/hostsfile.h"

#include "core/errors.h"

#include <utility>

namespace bramblet::hosts {

namespace fs = std::filesystem;

bool isDottedQuad(std::string_view text)
{
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t digits = 0;
        int value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            value = value * 10 + (text[i] - '0');
            ++digits;
            ++i;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        if (digits > 1 && text[i - digits] == '0')
            return false;
        ++parts;
        if (i == text.size())
            return parts == 4;
        if (text[i] != '.' || parts == 4)
            return false;
        ++i;
    }
}

std::string defaultHostsContent(const HostsStyle &style) { return std::string(kLocalhostLine) + style.lineEnd; }

std::string redirectedHostsContent(std::string_view gatewayAddress, std::string_view stunAddress,
                                   const HostsStyle &style)
{
    std::string out;
    out.append(gatewayAddress).append("  ").append(kGatewayHostName).append(style.lineEnd);
    if (style.stunLine)
        out.append(stunAddress).append("  ").append(kStunHostName).append(style.lineEnd);
    out.append(kLocalhostLine).append(style.lineEnd);
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

void HostsRedirect::makeBackup()
{
    const fs::path backup = backupPath();
    const fs::path temp = tempPathFor(backup);
    try {
        const std::string original = ops_.read(hostsPath_);
        mark("hosts read");
        ops_.writeTemp(temp, original, hostsPath_);
        mark("backup temp written");
        if (ops_.rename(temp, backup) == HostsFileOps::RenameOutcome::Refused)
            throw Error("The system refused to rename " + temp.string() + " to " + backup.string());
        mark("backup renamed");
        ops_.syncFolder(backup);
        mark("backup folder synced");
        if (ops_.read(backup) != original)
            throw Error(backup.string() + " does not read back as it was written");
        mark("backup verified");
    } catch (const std::exception &e) {
        // The hosts file is still untouched. A backup not known to be good must not stay,
        // or a later restore would put it in place of the intact hosts file.
        for (const fs::path &p : {temp, backup}) {
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

    if (!ops_.exists(hostsPath_)) {
        try {
            replaceVerified(hostsPath_, defaultHostsContent(style_), fs::path());
        } catch (const std::exception &e) {
            // There was no file before; one that does not read back right must not stay.
            try {
                ops_.remove(hostsPath_);
            } catch (...) {
            }
            throw Error(std::string("Cannot create the hosts file: ") + e.what());
        }
        mark("default written");
    }

    // A backup left by a run that did not restore it holds the content from before any
    // redirection; it goes back first so the backup taken next holds that content too.
    restore();

    makeBackup();

    try {
        replaceVerified(hostsPath_, redirectedHostsContent(gatewayAddress, stunAddress, style_), hostsPath_);
    } catch (const std::exception &e) {
        const std::string text = std::string("Cannot write the hosts file: ") + e.what();
        try {
            restore();
        } catch (...) {
            // The verified backup stays and is put back at close or at the next start.
        }
        throw Error(text);
    }
}

bool HostsRedirect::restore()
{
    const fs::path backup = backupPath();
    // Temp files of a run killed while writing are stale: the files they were meant to
    // become are intact or already in place. Nothing of ours is being written now.
    for (const fs::path &p : {tempPathFor(hostsPath_), tempPathFor(backup)}) {
        try {
            ops_.remove(p);
        } catch (...) {
        }
    }
    if (!ops_.exists(backup))
        return false;
    try {
        const std::string saved = ops_.read(backup);
        mark("backup read");
        // The replacement keeps the attributes of the file it replaces; with the hosts file
        // gone, the backup carries the original's.
        const fs::path like = ops_.exists(hostsPath_) ? hostsPath_ : backup;
        replaceVerified(hostsPath_, saved, like);
    } catch (const std::exception &e) {
        throw Error("Cannot restore the hosts file from " + backup.string() + " (the backup was kept): " +
                    e.what());
    }
    ops_.remove(backup);
    mark("backup deleted");
    ops_.syncFolder(backup);
    mark("backup folder synced");
    return true;
}

} // namespace bramblet::hosts
