#pragma once
// Reading HTML that comes from outside (eBay's message bodies) as data:
// parsed by libxml2's HTML parser, never handed to a browser.

#include <string>
#include <string_view>

namespace tw::html {

// The text content of the first element whose id (or, failing that, name)
// is `key`; "" when there is none or the text is not HTML at all. Scripts and
// styles contribute no text. Never fails.
std::string elementText(std::string_view html, std::string_view key);

// The whole text of the document, without its markup (scripts and styles
// left out), blanks collapsed.
std::string text(std::string_view html);

} // namespace tw::html
