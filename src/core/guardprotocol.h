#pragma once

// What the main window and the hosts guard say to each other over the guard's standard
// input and output: one command per line, one answer line for each.
//
//   guard, once started:       "ok" or "error <text>" (a backup left by an earlier run put back)
//   "redirect <gateway> <stun>" -> "ok" or "error <text>"
//   "restore"                  -> "ok" or "error <text>", then the guard ends
//
// The end of its input, or a terminating signal, makes the guard restore and end as well.

#include <optional>
#include <string>
#include <string_view>

namespace bramblet::guardprotocol {

// Two dotted quads and the command fit easily; anything longer is not ours.
inline constexpr std::size_t kMaxLine = 64;
inline constexpr const char *kRestoreCommand = "restore\n";

struct Command {
    enum class Kind { Redirect, Restore, Malformed };
    Kind kind = Kind::Malformed;
    std::string gateway;
    std::string stun;
    // Why a malformed line was refused.
    std::string error;
};

// One line, without its line break.
Command parseCommand(std::string_view line);
std::string redirectCommand(std::string_view gateway, std::string_view stun);

// "ok", or "ok <note>" where the restore did more than put the backup back (kChangesKept,
// kRepaired).
std::string okAnswer(std::string_view note = {});
inline constexpr const char *kChangesKept = "changes-kept";
inline constexpr const char *kRepaired = "repaired";
// The error a guard answers when another guard holds the machine's lock.
inline constexpr const char *kBusyError = "Another Bramblet link is running on this computer";
// The text on one line: line breaks and other control characters become blanks.
std::string errorAnswer(std::string_view text);

struct Answer {
    bool ok = false;
    // The error's text, or the note of an "ok".
    std::string text;
};
// One line, without its line break; nothing when it is neither answer.
std::optional<Answer> parseAnswer(std::string_view line);

// Why pkexec did not run the guard, from its exit status and what it wrote to its error
// output: 126 is a dismissed password dialog; 127 is a refusal or no agent to ask with.
enum class PkexecRefusal { None, NoAgent, Dismissed, NotAuthorized };
PkexecRefusal pkexecRefusal(int exitCode, std::string_view errorOutput);

// Cuts a byte stream into lines of at most kMaxLine bytes. A longer line is reported once
// as overlong and skipped up to its line break.
class LineSplitter {
public:
    struct Line {
        bool overlong = false;
        std::string text;
    };
    void feed(std::string_view bytes) { pending_.append(bytes); }
    std::optional<Line> next();

private:
    std::string pending_;
    bool skipping_ = false;
};

} // namespace bramblet::guardprotocol
