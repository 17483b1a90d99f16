#pragma once
// Small shared helpers: eBay date-time text, single values in XML documents,
// sorting by date, URL encoding. Text is UTF-8 throughout.

#include "platform/datetime.h"
#include "platform/xml.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tw {

// "YYYY-MM-DDThh:mm:ssZ"; no zone conversion (pass eBay time where it matters).
std::string DateToeBayTime(const DateTime &value);
// Reads "YYYY-MM-DDThh:mm:ss[.fff]Z"; fractional seconds are dropped; no zone
// conversion. Text that is not such a time gives an invalid DateTime.
DateTime eBayTimeToDate(std::string_view text);

// Text of the first node matching `xpath` under `context`, or `fallback`.
// Never fails.
std::string GetNodeText(const xml::Node &context, std::string_view xpath, std::string_view fallback = {},
                        const xml::Vars &vars = {});
inline std::string GetNodeText(const xml::Document &doc, std::string_view xpath, std::string_view fallback = {},
                               const xml::Vars &vars = {})
{
    return GetNodeText(doc.node(), xpath, fallback, vars);
}

// Sets the text of child `name` of the first node matching `parentXPath`,
// creating the child as the parent's last child when missing. Nothing
// happens (null result) when there is no such parent.
xml::Node SetChildText(xml::Document &doc, std::string_view parentXPath, std::string_view name, std::string_view text);
// Appends a new child `name` with `text` (duplicates allowed).
xml::Node AppendChildText(xml::Document &doc, std::string_view parentXPath, std::string_view name,
                          std::string_view text);
// Like SetChildText with the parent given as a node.
xml::Node SetNodeChildText(xml::Node parent, std::string_view name, std::string_view value);

// Quicksort of (date, payload) columns lo..hi, newest first; each date keeps
// its payload. Equal dates keep no particular order.
template <typename T> void SortByDateDescending(std::vector<std::pair<DateTime, T>> &columns, long lo, long hi)
{
    if (lo < 0 || hi >= long(columns.size()) || lo >= hi) return;
    // Middle column, halves rounded to the even index.
    long sum = lo + hi;
    long mid = sum / 2;
    if (sum % 2 != 0 && mid % 2 != 0) ++mid;
    const DateTime pivot = columns[mid].first;
    long i = lo, j = hi;
    while (i <= j) {
        while (columns[i].first > pivot && i < hi)
            ++i;
        while (pivot > columns[j].first && j > lo)
            --j;
        if (i <= j) {
            std::swap(columns[i], columns[j]);
            ++i;
            --j;
        }
    }
    if (lo < j) SortByDateDescending(columns, lo, j);
    if (i < hi) SortByDateDescending(columns, i, hi);
}

// Form encoding of the PayPal posts: letters and digits stay, a blank
// becomes "+", every other byte becomes "%XX" (upper-case hex).
std::string URLEncode(std::string_view text);
// "+" becomes a blank, "%XX" the byte; a "%" without two hex digits after it
// stays as it is.
std::string URLDecode(std::string_view text);

} // namespace tw
