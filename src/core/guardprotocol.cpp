#include "core/guardprotocol.h"

#include "core/hostsfile.h"

namespace bramblet::guardprotocol {

Command parseCommand(std::string_view line)
{
    Command c;
    if (line == "restore") {
        c.kind = Command::Kind::Restore;
        return c;
    }
    constexpr std::string_view redirect = "redirect ";
    if (line.substr(0, redirect.size()) != redirect) {
        c.error = "Unknown command";
        return c;
    }
    const std::string_view rest = line.substr(redirect.size());
    const std::size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) {
        c.error = "A redirection takes two addresses";
        return c;
    }
    const std::string_view gateway = rest.substr(0, blank);
    const std::string_view stun = rest.substr(blank + 1);
    for (std::string_view address : {gateway, stun}) {
        if (!hosts::isDottedQuad(address)) {
            c.error = "Not an IPv4 address in dotted-quad form";
            return c;
        }
    }
    c.kind = Command::Kind::Redirect;
    c.gateway = gateway;
    c.stun = stun;
    return c;
}

std::string redirectCommand(std::string_view gateway, std::string_view stun)
{
    return std::string("redirect ").append(gateway).append(" ").append(stun).append("\n");
}

std::string okAnswer(std::string_view note)
{
    return note.empty() ? std::string("ok\n") : "ok " + std::string(note) + "\n";
}

PkexecRefusal pkexecRefusal(int exitCode, std::string_view errorOutput)
{
    if (exitCode == 126)
        return PkexecRefusal::Dismissed;
    if (exitCode != 127)
        return PkexecRefusal::None;
    if (errorOutput.find("No authentication agent") != std::string_view::npos)
        return PkexecRefusal::NoAgent;
    if (errorOutput.find("Not authorized") != std::string_view::npos)
        return PkexecRefusal::NotAuthorized;
    return PkexecRefusal::None;
}

std::string errorAnswer(std::string_view text)
{
    std::string out = "error ";
    for (const char ch : text)
        out += static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f ? ' ' : ch;
    return out + "\n";
}

std::optional<Answer> parseAnswer(std::string_view line)
{
    if (line == "ok")
        return Answer{true, {}};
    if (line.substr(0, 3) == "ok ")
        return Answer{true, std::string(line.substr(3))};
    constexpr std::string_view error = "error ";
    if (line.substr(0, error.size()) == error)
        return Answer{false, std::string(line.substr(error.size()))};
    return std::nullopt;
}

std::optional<LineSplitter::Line> LineSplitter::next()
{
    while (true) {
        const std::size_t end = pending_.find('\n');
        if (skipping_) {
            if (end == std::string::npos) {
                pending_.clear();
                return std::nullopt;
            }
            pending_.erase(0, end + 1);
            skipping_ = false;
            continue;
        }
        if (end != std::string::npos && end <= kMaxLine) {
            Line line{false, pending_.substr(0, end)};
            pending_.erase(0, end + 1);
            return line;
        }
        if (pending_.size() > kMaxLine) {
            // Reported once, at once; the rest of it goes unread.
            skipping_ = true;
            return Line{true, {}};
        }
        return std::nullopt;
    }
}

} // namespace bramblet::guardprotocol
