#include "platform/page.h"

#include <cstdlib>

namespace tw::page {
namespace {

int toInt(const std::string &s)
{
    return std::atoi(s.c_str());
}

} // namespace

#define TW_GET(path) (m_page ? m_page->property(m_handle, path) : std::string())
#define TW_SET(path, v)                                                                                                \
    do {                                                                                                               \
        if (*this) m_page->setProperty(m_handle, path, v);                                                             \
    } while (0)

std::string Element::tagName() const
{
    return TW_GET("tagName");
}
std::string Element::innerHTML() const
{
    return TW_GET("innerHTML");
}
void Element::setInnerHTML(std::string_view html)
{
    TW_SET("innerHTML", html);
}
void Element::appendHTML(std::string_view html)
{
    TW_SET("appendHTML", html);
}
void Element::appendHTMLLater(std::string_view html, std::function<void()> done)
{
    if (*this)
        m_page->setPropertyLater(m_handle, "appendHTML", html, std::move(done));
    else if (done)
        done();
}
std::string Element::innerText() const
{
    return TW_GET("innerText");
}
void Element::setInnerText(std::string_view text)
{
    TW_SET("innerText", text);
}

std::string Element::attribute(std::string_view name) const
{
    return *this ? m_page->attribute(m_handle, name) : std::string();
}
void Element::setAttribute(std::string_view name, std::string_view value)
{
    if (*this) m_page->setAttribute(m_handle, name, value);
}

std::string Element::style(std::string_view property) const
{
    return TW_GET("style." + std::string(property));
}
void Element::setStyle(std::string_view property, std::string_view value)
{
    TW_SET("style." + std::string(property), value);
}

std::string Element::value() const
{
    return TW_GET("value");
}
void Element::setValue(std::string_view value)
{
    TW_SET("value", value);
}
bool Element::checked() const
{
    return TW_GET("checked") == "true";
}
void Element::setChecked(bool on)
{
    TW_SET("checked", on ? "true" : "false");
}
bool Element::disabled() const
{
    return TW_GET("disabled") == "true";
}
void Element::setDisabled(bool on)
{
    TW_SET("disabled", on ? "true" : "false");
}
int Element::selectedIndex() const
{
    return *this ? toInt(TW_GET("selectedIndex")) : -1;
}
void Element::setSelectedIndex(int index)
{
    TW_SET("selectedIndex", std::to_string(index));
}
int Element::clientWidth() const
{
    return toInt(TW_GET("clientWidth"));
}
int Element::clientHeight() const
{
    return toInt(TW_GET("clientHeight"));
}

std::vector<Element> Element::rows() const
{
    std::vector<Element> out;
    if (*this)
        for (int h : m_page->collection(m_handle, "rows"))
            out.emplace_back(m_page, h);
    return out;
}

Element Element::insertRow(int index)
{
    int h = *this ? m_page->insert(m_handle, "row", index) : 0;
    return h > 0 ? Element(m_page, h) : Element();
}

void Element::deleteRow(int index)
{
    if (*this) m_page->deleteRow(m_handle, index);
}

std::vector<std::vector<std::string>> Element::values(std::string_view selector,
                                                      const std::vector<std::string> &paths) const
{
    return *this ? m_page->values(m_handle, selector, paths) : std::vector<std::vector<std::string>>{};
}

void Element::setEach(std::string_view selector, std::string_view path, const std::vector<std::string> &values)
{
    if (*this) m_page->setEach(m_handle, selector, path, values);
}

void Element::keepRows(int count)
{
    TW_SET("keepRows", std::to_string(count));
}

std::vector<Element> Element::cells() const
{
    std::vector<Element> out;
    if (*this)
        for (int h : m_page->collection(m_handle, "cells"))
            out.emplace_back(m_page, h);
    return out;
}

Element Element::insertCell(int index)
{
    int h = *this ? m_page->insert(m_handle, "cell", index) : 0;
    return h > 0 ? Element(m_page, h) : Element();
}

std::vector<Element> Element::options() const
{
    std::vector<Element> out;
    if (*this)
        for (int h : m_page->collection(m_handle, "options"))
            out.emplace_back(m_page, h);
    return out;
}

Element Element::addOption(std::string_view text, std::string_view value, bool selected)
{
    int h = *this ? m_page->addOption(m_handle, text, value, selected) : 0;
    return h > 0 ? Element(m_page, h) : Element();
}

std::vector<Element> Element::query(std::string_view selector) const
{
    std::vector<Element> out;
    if (*this)
        for (int h : m_page->queryAll(m_handle, selector))
            out.emplace_back(m_page, h);
    return out;
}

void Element::onChange(std::function<void()> handler)
{
    if (*this) m_page->onChange(m_handle, std::move(handler));
}

void Element::watchEnd(std::function<void()> nearEnd)
{
    if (*this) m_page->watchEnd(m_handle, std::move(nearEnd));
}

#undef TW_GET
#undef TW_SET

std::vector<Element> Page::elements(std::string_view key)
{
    return wrapAll(findAll(key));
}

int Page::bodyScrollTop()
{
    int h = find({});
    return h > 0 ? toInt(property(h, "scrollTop")) : 0;
}

std::vector<Element> Page::wrapAll(const std::vector<int> &handles)
{
    std::vector<Element> out;
    for (int h : handles)
        if (h > 0) out.emplace_back(this, h);
    return out;
}

std::string cssString(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n' || c == '\r' || c == '\f') {
            out += "\\a ";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

} // namespace tw::page
