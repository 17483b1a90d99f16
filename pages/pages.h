#pragma once
// The served pages, request templates and other files of /KORVA/, bundled
// into the program. Paths match whatever their case, as a web server would.

#include "platform/xml.h"

#include <QByteArray>

#include <optional>
#include <string>
#include <string_view>

namespace tw::pages {

// The bytes of the bundled file at `path` ("/KORVA/main-1.0.47.html", any
// case, query and fragment ignored); nullopt when there is none.
std::optional<QByteArray> bundled(std::string_view path);

// The content type to serve `path` with, from its extension.
std::string contentType(std::string_view path);

// True when the configured pages base (pages/BaseUrl) is the built-in one,
// so pages come from the bundle rather than from a server.
bool builtInBase();

// The full address of a served path: pages/BaseUrl followed by `path`.
std::string url(std::string_view path);

// The served XML file at `path` (a request template, the DAZzle definitions):
// from the bundle when the pages base is the built-in one, otherwise fetched
// from the pages server with the configured time-out. A null document when it
// cannot be had or is not well-formed XML.
xml::Document loadXml(std::string_view path);

} // namespace tw::pages
