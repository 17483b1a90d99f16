#include "platform/log.h"

#include "platform/clock.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QUrl>

#include <cstdio>
#include <mutex>
#include <system_error>

namespace tw::log {
namespace {

struct State {
    std::mutex mutex;
    std::FILE *out = nullptr;
    std::filesystem::path file;
    std::int64_t size = 0;
    std::int64_t maxBytes = kDefaultMaxBytes;
    int keep = kDefaultKeep;
    std::function<std::vector<std::string>()> secrets;
};

State &state()
{
    static State s;
    return s;
}

std::filesystem::path numbered(const std::filesystem::path &file, int n)
{
    std::filesystem::path p = file;
    p += "." + std::to_string(n);
    return p;
}

// Under the lock. The oldest copy goes first so each rename has a free name.
void rotate(State &s)
{
    std::fclose(s.out);
    s.out = nullptr;
    std::error_code ec;
    if (s.keep > 0) {
        std::filesystem::remove(numbered(s.file, s.keep), ec);
        for (int n = s.keep - 1; n >= 1; --n)
            if (std::filesystem::exists(numbered(s.file, n), ec))
                std::filesystem::rename(numbered(s.file, n), numbered(s.file, n + 1), ec);
        std::filesystem::rename(s.file, numbered(s.file, 1), ec);
    } else {
        std::filesystem::remove(s.file, ec);
    }
    s.out = std::fopen(s.file.c_str(), "abe");
    s.size = 0;
}

void replaceAll(std::string &text, const std::string &what, const std::string &with)
{
    if (what.empty()) return;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

// The spelling of a form body or query as the PayPal client writes it:
// letters and digits as they are, a blank as "+", every other byte "%XX".
std::string formEncoded(const std::string &value, const char *hex)
{
    std::string out;
    for (unsigned char c : value) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            out += char(c);
        else if (c == ' ')
            out += '+';
        else
            out += {'%', hex[c >> 4], hex[c & 15]};
    }
    return out;
}

std::string xmlEscaped(const std::string &value)
{
    std::string out;
    for (char c : value) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

bool open(const std::filesystem::path &file, std::int64_t maxBytes, int keep, std::string *error)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (s.out) std::fclose(s.out);
    s.out = std::fopen(file.c_str(), "abe");
    if (!s.out) {
        s.file.clear();
        if (error) *error = std::error_code(errno, std::generic_category()).message();
        return false;
    }
    s.file = file;
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    s.size = ec ? 0 : std::int64_t(size);
    s.maxBytes = maxBytes;
    s.keep = keep;
    return true;
}

void close()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (s.out) std::fclose(s.out);
    s.out = nullptr;
    s.file.clear();
}

std::filesystem::path file()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    return s.file;
}

void setSecretSource(std::function<std::vector<std::string>()> source)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    s.secrets = std::move(source);
}

std::string redact(std::string_view text, const std::vector<std::string> &secrets)
{
    std::string out(text);
    for (const std::string &secret : secrets) {
        if (secret.size() < 4) continue;
        // As written; as it travels in a query or form body, in Qt's spelling
        // and in the PayPal client's (which encodes "." and "-" as well); as
        // it sits in XML.
        replaceAll(out, secret, "[hidden]");
        replaceAll(out, QUrl::toPercentEncoding(QString::fromStdString(secret)).toStdString(), "[hidden]");
        replaceAll(out, formEncoded(secret, "0123456789ABCDEF"), "[hidden]");
        replaceAll(out, formEncoded(secret, "0123456789abcdef"), "[hidden]");
        replaceAll(out, xmlEscaped(secret), "[hidden]");
    }
    static const QRegularExpression email(
        R"([A-Za-z0-9._%+\-]+(@|%40)([A-Za-z0-9\-]|%2D)+((\.|%2E)([A-Za-z0-9\-]|%2D)+)+)",
        QRegularExpression::CaseInsensitiveOption);
    QString q = QString::fromStdString(out);
    if (q.contains(email)) out = q.replace(email, "[e-mail]").toStdString();
    return out;
}

void write(std::string_view kind, std::string_view text)
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (!s.out) return;
    std::string line = clock().localNow().toString() + " " + std::string(kind) + " " + std::string(text);
    for (char &c : line)
        if (c == '\n' || c == '\r') c = ' ';
    line = redact(line, s.secrets ? s.secrets() : std::vector<std::string>{});
    line += '\n';
    // A line is never split across two files.
    if (s.size > 0 && s.size + std::int64_t(line.size()) > s.maxBytes) rotate(s);
    if (!s.out) return;
    if (std::fwrite(line.data(), 1, line.size(), s.out) == line.size()) s.size += std::int64_t(line.size());
    std::fflush(s.out);
}

} // namespace tw::log
