#include "pages/pages.h"

#include "platform/config.h"

#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QString>

#include <algorithm>
#include <cctype>

namespace tw::pages {
namespace {

const QHash<QString, QString> &index()
{
    static const QHash<QString, QString> map = [] {
        QHash<QString, QString> m;
        QDirIterator it(":/pages", QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QString resource = it.next();
            m.insert(resource.mid(QString(":/pages").size()).toLower(), resource);
        }
        return m;
    }();
    return map;
}

std::string lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

} // namespace

std::optional<QByteArray> bundled(std::string_view path)
{
    std::string p(path.substr(0, path.find_first_of("?#")));
    if (p.empty() || p.front() != '/') p.insert(p.begin(), '/');
    auto it = index().find(QString::fromStdString(p).toLower());
    if (it == index().end()) return std::nullopt;
    QFile file(it.value());
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

std::string contentType(std::string_view path)
{
    std::string p = lower(path.substr(0, path.find_first_of("?#")));
    auto ends = [&](std::string_view ext) {
        return p.size() >= ext.size() && p.compare(p.size() - ext.size(), ext.size(), ext) == 0;
    };
    if (ends(".html") || ends(".htm")) return "text/html; charset=utf-8";
    if (ends(".xml") || ends(".xsl")) return "text/xml; charset=utf-8";
    if (ends(".css")) return "text/css; charset=utf-8";
    if (ends(".js")) return "text/javascript; charset=utf-8";
    if (ends(".png")) return "image/png";
    if (ends(".gif")) return "image/gif";
    if (ends(".svg")) return "image/svg+xml";
    return "application/octet-stream";
}

bool builtInBase()
{
    return lower(config().get("pages/BaseUrl")).rfind("tidewell:", 0) == 0;
}

std::string url(std::string_view path)
{
    std::string base = config().get("pages/BaseUrl");
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    std::string p(path);
    if (p.empty() || p.front() != '/') p.insert(p.begin(), '/');
    return base + p;
}

} // namespace tw::pages
