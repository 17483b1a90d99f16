#include "postage/formpage.h"

#include <set>

namespace tw::postage {
namespace {

constexpr std::string_view kFields = "input,select,textarea";

} // namespace

FormValues readForm(page::Page &page)
{
    FormValues form;
    page::Element body = page.body();
    if (!body) return form;
    for (const std::vector<std::string> &row : body.values(kFields, {"@id", "@name", "type", "value", "checked"})) {
        if (row.size() < 5) continue;
        const std::string &key = row[1].empty() ? row[0] : row[1];
        if (key.empty()) continue;
        const std::string &type = row[2];
        if (type == "checkbox") {
            form.try_emplace(key, row[4] == "true" ? "True" : "False");
        } else if (type == "radio") {
            if (row[4] == "true") form.try_emplace(key, row[3]);
        } else {
            form.try_emplace(key, row[3]);
        }
    }
    return form;
}

void setByKey(page::Page &page, std::string_view path, const std::vector<std::pair<std::string, std::string>> &values)
{
    page::Element body = page.body();
    if (!body || values.empty()) return;
    std::string selector;
    for (const auto &[key, value] : values) {
        if (!selector.empty()) selector += ',';
        selector += "[id=" + page::cssString(key) + "],[name=" + page::cssString(key) + "]";
    }
    // The browser hands the matches in document order; each keeps what it
    // has unless it is the first element of one of the keys.
    const std::vector<std::vector<std::string>> found = body.values(selector, {"@id", "@name", std::string(path)});
    if (found.empty()) return;
    std::set<std::string> done;
    std::vector<std::string> ordered;
    ordered.reserve(found.size());
    for (const std::vector<std::string> &row : found) {
        std::string next = row.size() > 2 ? row[2] : std::string();
        for (const auto &[key, value] : values) {
            if ((row[0] == key || row[1] == key) && !done.count(key)) {
                done.insert(key);
                next = value;
                break;
            }
        }
        ordered.push_back(std::move(next));
    }
    body.setEach(selector, path, ordered);
}

bool customsVisible(page::Page &page)
{
    page::Element customs = page.element("customs");
    return !customs || customs.style("visibility").empty();
}

} // namespace tw::postage
