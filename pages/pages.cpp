#include "pages/pages.h"

#include "platform/config.h"
#include "platform/http.h"
#include "platform/text.h"

#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QString>

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

xml::Document loadXml(std::string_view path)
{
    QByteArray bytes;
    if (builtInBase()) {
        auto found = bundled(path);
        if (!found) return xml::Document(nullptr);
        bytes = *found;
    } else {
        http::Request request;
        request.url = url(path);
        http::Response response = http::send(request);
        if (!response.ok || response.status != 200) return xml::Document(nullptr);
        bytes = response.body;
    }
    return xml::Document::parseUntrusted(std::string_view(bytes.constData(), size_t(bytes.size())));
}

} // namespace tw::pages
