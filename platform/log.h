#pragma once
// The program's log: one text file in the data folder (tidewell.log), one
// line per event, "YYYY-MM-DD hh:mm:ss <kind> <text>", local time from
// tw::clock(). When the file would grow past its limit it is rotated:
// tidewell.log becomes tidewell.log.1, .1 becomes .2 and so on; the oldest
// beyond `keep` is deleted.
//
// Callers never hand it a secret (token, password, signature) nor a buyer's
// e-mail address. As a second line of defence every line is redacted before
// it is written: the values the secret source names (and their URL-encoded
// forms) become "[hidden]", anything shaped like an e-mail address becomes
// "[e-mail]".
//
// Until open() succeeds, and after close(), writing does nothing: code that
// logs runs unchanged in tests that keep no log. Writing never throws and
// never reports a failure; a log that cannot be written is simply not kept.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tw::log {

inline constexpr const char *kFileName = "tidewell.log";
inline constexpr std::int64_t kDefaultMaxBytes = 1024 * 1024;
inline constexpr int kDefaultKeep = 3;

// Opens `file` for appending (creating it), replacing any log open before.
// False with `error` when it cannot be opened.
bool open(const std::filesystem::path &file, std::int64_t maxBytes = kDefaultMaxBytes, int keep = kDefaultKeep,
          std::string *error = nullptr);
void close();
// The file open now; empty when none.
std::filesystem::path file();

// One line of `kind` ("start", "http", "smtp", "paypal", "store", "backup",
// ...), redacted as above. Line breaks in `text` become blanks.
void write(std::string_view kind, std::string_view text);

// Values that must never appear in the log, asked for at each line so a
// token stored during the run is covered at once. Values shorter than four
// characters are ignored (they would hide ordinary words).
void setSecretSource(std::function<std::vector<std::string>()> source);

// The redaction applied to each line, with the secrets given.
std::string redact(std::string_view text, const std::vector<std::string> &secrets);

} // namespace tw::log
