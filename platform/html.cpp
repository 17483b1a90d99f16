#include "platform/html.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <memory>

namespace tw::html {
namespace {

struct FreeDoc {
    void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, FreeDoc>;

DocPtr parse(std::string_view html)
{
    if (html.empty()) return nullptr;
    const int options = HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_RECOVER |
                        HTML_PARSE_NOIMPLIED | HTML_PARSE_COMPACT;
    return DocPtr(htmlReadMemory(html.data(), int(html.size()), nullptr, "UTF-8", options));
}

bool skipped(xmlNodePtr node)
{
    return node->type == XML_ELEMENT_NODE &&
           (xmlStrcasecmp(node->name, BAD_CAST "script") == 0 || xmlStrcasecmp(node->name, BAD_CAST "style") == 0);
}

// Elements that end a line where a browser would show them: their text must
// not run into the next word.
bool breaksLine(xmlNodePtr node)
{
    static const char *names[] = {"br", "p", "div", "li", "tr", "td", "h1", "h2", "h3", "table", "ul", "ol"};
    if (node->type != XML_ELEMENT_NODE) return false;
    for (const char *name : names)
        if (xmlStrcasecmp(node->name, BAD_CAST name) == 0) return true;
    return false;
}

void collect(xmlNodePtr node, std::string &out)
{
    for (xmlNodePtr child = node; child; child = child->next) {
        if (skipped(child)) continue;
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            if (child->content) out += reinterpret_cast<const char *>(child->content);
        } else {
            if (breaksLine(child)) out += ' ';
            if (child->children) collect(child->children, out);
            if (breaksLine(child)) out += ' ';
        }
    }
}

std::string attribute(xmlNodePtr node, const char *name)
{
    xmlChar *value = xmlGetProp(node, BAD_CAST name);
    if (!value) return {};
    std::string out(reinterpret_cast<const char *>(value));
    xmlFree(value);
    return out;
}

xmlNodePtr findBy(xmlNodePtr node, const char *attr, std::string_view key)
{
    for (xmlNodePtr child = node; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        if (attribute(child, attr) == key) return child;
        if (xmlNodePtr found = findBy(child->children, attr, key)) return found;
    }
    return nullptr;
}

std::string collapse(const std::string &text)
{
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
            blank = !out.empty();
        } else {
            if (blank) out += ' ';
            blank = false;
            out += c;
        }
    }
    return out;
}

} // namespace

std::string elementText(std::string_view html, std::string_view key)
{
    DocPtr doc = parse(html);
    if (!doc || key.empty()) return {};
    xmlNodePtr top = xmlDocGetRootElement(doc.get());
    if (!top) return {};
    xmlNodePtr found = findBy(top, "id", key);
    if (!found) found = findBy(top, "name", key);
    if (!found) return {};
    std::string out;
    collect(found->children, out);
    return collapse(out);
}

std::string text(std::string_view html)
{
    DocPtr doc = parse(html);
    if (!doc) return {};
    std::string out;
    collect(doc->children, out);
    return collapse(out);
}

} // namespace tw::html
