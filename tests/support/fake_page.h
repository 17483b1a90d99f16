#pragma once
// A page without a browser: elements are records of properties and
// attributes. Enough for the page layer's logic; layout is what you set.

#include "platform/page.h"

#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace tw::test {

class FakePage : public page::Page {
  public:
    struct El {
        std::string tag, id, name;
        std::map<std::string, std::string> props, attrs;
        std::vector<int> rows, cells;
        std::function<void()> change;
    };

    FakePage() { m_els[1] = El{"BODY", "", "", {{"clientWidth", "800"}, {"clientHeight", "600"}}, {}, {}, {}, {}}; }

    int add(std::string tag, std::string id, std::string name = {})
    {
        int h = m_next++;
        m_els[h] = El{std::move(tag), std::move(id), std::move(name), {}, {}, {}, {}, {}};
        return h;
    }
    El &el(int h) { return m_els.at(h); }
    int count(std::string_view key) { return int(findAll(key).size()); }

    std::string address = "tidewell://pages/KORVA/main-1.0.47.html";
    // Every change made to the page (properties, attributes, rows, options,
    // handlers, setEach), counted.
    int writes = 0;
    // What selector queries and bulk reads find, for tests that need rows;
    // without them both find nothing.
    std::function<std::vector<int>(int scope, std::string_view selector)> onQuery;
    std::function<std::vector<std::vector<std::string>>(std::string_view selector)> onValues;
    std::string url() override { return address; }

    int find(std::string_view key) override
    {
        if (key.empty()) return 1;
        auto all = findAll(key);
        return all.empty() ? 0 : all.front();
    }
    std::vector<int> findAll(std::string_view key) override
    {
        std::vector<int> out;
        for (auto &[h, e] : m_els)
            if (h != 1 && (e.id == key || e.name == key)) out.push_back(h);
        return out;
    }
    std::vector<int> queryAll(int scope, std::string_view selector) override
    {
        return onQuery ? onQuery(scope, selector) : std::vector<int>{};
    }
    std::string property(int h, std::string_view path) override
    {
        auto it = m_els.find(h);
        if (it == m_els.end()) return {};
        if (path == "tagName") return it->second.tag;
        auto p = it->second.props.find(std::string(path));
        return p == it->second.props.end() ? std::string() : p->second;
    }
    void setProperty(int h, std::string_view path, std::string_view value) override
    {
        auto it = m_els.find(h);
        if (it == m_els.end()) return;
        ++writes;
        if (path == "appendHTML") {
            setProperty(h, "innerHTML", it->second.props["innerHTML"] + std::string(value));
            std::smatch m;
            std::string html(value);
            if (std::regex_search(html, m, std::regex("id=\"([^\"]+)\""))) add("DIV", m[1]);
            return;
        }
        it->second.props[std::string(path)] = value;
        if (path == "innerHTML") // crude innerText: tags dropped
            it->second.props["innerText"] = std::regex_replace(std::string(value), std::regex("<[^>]*>"), "");
    }
    std::string attribute(int h, std::string_view name) override
    {
        auto &a = m_els[h].attrs;
        auto it = a.find(std::string(name));
        return it == a.end() ? std::string() : it->second;
    }
    void setAttribute(int h, std::string_view name, std::string_view value) override
    {
        ++writes;
        m_els[h].attrs[std::string(name)] = value;
    }
    std::vector<int> collection(int h, std::string_view kind) override
    {
        return kind == "rows" ? m_els[h].rows : kind == "cells" ? m_els[h].cells : std::vector<int>{};
    }
    int insert(int h, std::string_view kind, int) override
    {
        ++writes;
        int n = add(kind == "row" ? "TR" : "TD", "");
        (kind == "row" ? m_els[h].rows : m_els[h].cells).push_back(n);
        return n;
    }
    void deleteRow(int h, int index) override
    {
        ++writes;
        auto &r = m_els[h].rows;
        if (index >= 0 && index < int(r.size())) r.erase(r.begin() + index);
    }
    int addOption(int, std::string_view, std::string_view, bool) override
    {
        ++writes;
        return 0;
    }
    void onChange(int h, std::function<void()> handler) override
    {
        ++writes;
        m_els[h].change = std::move(handler);
    }
    // The fake knows no selectors: bulk reads find what onValues says.
    std::vector<std::vector<std::string>> values(int, std::string_view selector,
                                                 const std::vector<std::string> &) override
    {
        return onValues ? onValues(selector) : std::vector<std::vector<std::string>>{};
    }
    void setEach(int, std::string_view, std::string_view, const std::vector<std::string> &) override { ++writes; }

  private:
    std::map<int, El> m_els;
    int m_next = 2;
};

} // namespace tw::test
