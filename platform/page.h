#pragma once
// The document shown in the browser, as the operations see it. The window's
// WebEngine adapter implements it (platform/web/); tests use a fake. Every
// call is synchronous: the adapter waits for the browser, pumping events.
//
// Elements are reached through handles that are valid for the document they
// came from; after the page changes, a stale handle reads as empty and
// writes do nothing. Nothing here throws.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tw::page {

class Page;

// A handle to one element of the current document. A null Element (no
// element found) reads as "" / false / 0 and ignores writes.
class Element {
  public:
    Element() = default;
    Element(Page *page, int handle) : m_page(page), m_handle(handle) {}

    explicit operator bool() const { return m_page && m_handle > 0; }
    int handle() const { return m_handle; }

    std::string tagName() const; // upper case, "TD"
    std::string innerHTML() const;
    void setInnerHTML(std::string_view html);
    // Adds `html` at the end of the element's content without re-creating
    // what is already there (typed values and handlers survive).
    void appendHTML(std::string_view html);
    // The same without waiting for the browser: `done` runs once the browser
    // has done it (calls made meanwhile come after it). Nothing else runs
    // in between, so no other work can start inside.
    void appendHTMLLater(std::string_view html, std::function<void()> done);
    std::string innerText() const;
    void setInnerText(std::string_view text);

    // Attribute lookup is case-insensitive, as the browser's is.
    std::string attribute(std::string_view name) const;
    void setAttribute(std::string_view name, std::string_view value);

    // A style property by its script name ("visibility", "backgroundColor",
    // "top", "left", "width", "border", ...).
    std::string style(std::string_view property) const;
    void setStyle(std::string_view property, std::string_view value);

    // input, textarea and select values
    std::string value() const;
    void setValue(std::string_view value);
    bool checked() const;
    void setChecked(bool on);
    bool disabled() const;
    void setDisabled(bool on);
    int selectedIndex() const;
    void setSelectedIndex(int index);

    int clientWidth() const;
    int clientHeight() const;

    // Tables: rows of a table, cells of a row. index -1 appends.
    std::vector<Element> rows() const;
    Element insertRow(int index = -1);
    void deleteRow(int index);
    std::vector<Element> cells() const;
    Element insertCell(int index = -1);

    // The options of a select; addOption appends one.
    std::vector<Element> options() const;
    Element addOption(std::string_view text, std::string_view value, bool selected = false);

    // Descendants matching a CSS selector.
    std::vector<Element> query(std::string_view selector) const;

    // Bulk forms, one exchange with the browser each, for the elements
    // matching `selector` under this element, in document order. `paths` are
    // property paths as below, "@name" for an attribute of the element, or
    // "^tag@name" for an attribute of its closest ancestor `tag`.
    std::vector<std::vector<std::string>> values(std::string_view selector,
                                                 const std::vector<std::string> &paths) const;
    // Sets property `path` of each matching element to values[i], or to
    // values[0] for all when one value is given.
    void setEach(std::string_view selector, std::string_view path, const std::vector<std::string> &values);
    // A table: keeps its first `count` rows, deletes the others. The
    // element may be replaced by a copy holding the kept rows; this handle
    // then names the copy.
    void keepRows(int count);

    // `handler` runs each time the element raises its change event.
    void onChange(std::function<void()> handler);
    // `nearEnd` runs once, when the element's end is shown or is within two
    // window heights below what is shown (at once where the page cannot tell).
    void watchEnd(std::function<void()> nearEnd);

  private:
    Page *m_page = nullptr;
    int m_handle = 0;
};

class Page {
  public:
    virtual ~Page() = default;

    // Address of the current document.
    virtual std::string url() = 0;
    // True while a document is loading (it is not complete yet).
    virtual bool loading() { return false; }
    // Tells documents apart: changes whenever another document (or the same
    // address loaded again) replaces the current one.
    virtual std::uint64_t document() { return 0; }

    // The element whose id is `key`; without one, the first whose name is.
    Element element(std::string_view key) { return wrap(find(key)); }
    // Every element named (or with the id) `key`, in document order.
    std::vector<Element> elements(std::string_view key);
    // The body; null for a document without one.
    Element body() { return wrap(find({})); }
    std::vector<Element> query(std::string_view selector) { return wrapAll(queryAll(0, selector)); }

    int bodyClientWidth() { return body().clientWidth(); }
    int bodyClientHeight() { return body().clientHeight(); }
    int bodyScrollTop();

    // --- primitives for the implementations ------------------------------
    // Handles are > 0; 0 means none. Property paths are "innerHTML",
    // "innerText", "value", "checked", "disabled", "selectedIndex",
    // "clientWidth", "clientHeight", "scrollTop", "tagName", "style.<name>",
    // and the write-only "appendHTML" and "keepRows" (a count);
    // booleans travel as "true"/"false".
    virtual int find(std::string_view key) = 0; // "" finds the body
    virtual std::vector<int> findAll(std::string_view key) = 0;
    virtual std::vector<int> queryAll(int scope, std::string_view selector) = 0; // scope 0: document
    virtual std::string property(int handle, std::string_view path) = 0;
    virtual void setProperty(int handle, std::string_view path, std::string_view value) = 0;
    // setProperty without waiting; `done` runs when the browser has done it.
    virtual void setPropertyLater(int handle, std::string_view path, std::string_view value, std::function<void()> done)
    {
        setProperty(handle, path, value);
        if (done) done();
    }
    virtual std::string attribute(int handle, std::string_view name) = 0;
    virtual void setAttribute(int handle, std::string_view name, std::string_view value) = 0;
    // kind: "rows", "cells", "options"
    virtual std::vector<int> collection(int handle, std::string_view kind) = 0;
    // kind: "row" (insertRow) or "cell" (insertCell); returns the new element.
    virtual int insert(int handle, std::string_view kind, int index) = 0;
    virtual void deleteRow(int handle, int index) = 0;
    virtual int addOption(int handle, std::string_view text, std::string_view value, bool selected) = 0;
    virtual void onChange(int handle, std::function<void()> handler) = 0;
    virtual void watchEnd(int, std::function<void()> nearEnd)
    {
        if (nearEnd) nearEnd();
    }
    virtual std::vector<std::vector<std::string>> values(int scope, std::string_view selector,
                                                         const std::vector<std::string> &paths) = 0;
    virtual void setEach(int scope, std::string_view selector, std::string_view path,
                         const std::vector<std::string> &values) = 0;

  protected:
    Element wrap(int handle) { return handle > 0 ? Element(this, handle) : Element(); }
    std::vector<Element> wrapAll(const std::vector<int> &handles);
};

// `text` as a CSS string in double quotes, for a value in an attribute
// selector: quotes and backslashes escaped, line breaks as "\a ".
std::string cssString(std::string_view text);

} // namespace tw::page
