#pragma once
// Settings.xml: one element per key under <Settings>, its value the text.
// Flags are "True"/"False"; only the exact text "True" means on.

#include "platform/xml.h"
#include "store/store.h"

#include <string>
#include <string_view>
#include <vector>

namespace tw::settings {

inline constexpr std::string_view kDefaultView = "DeliveredNeedsFollowUp";
inline constexpr std::string_view kShippedSubject = "Your order has been shipped";
extern const std::string kShippedBody; // CR LF line breaks, with placeholders
inline constexpr std::string_view kStandardMessageHint =
    "This standard message can be customized by clicking Tools Options.";

struct Key {
    std::string_view name;
    // What a reader gets when the element is missing.
    std::string_view missingDefault;
};
// Every key the program knows, with its default, in one place.
const std::vector<Key> &keys();
// The default of `key` ("" for a key without one or an unknown key).
std::string_view defaultFor(std::string_view key);

// The mail classes with a DAZzle layout key ("DazzleLayout_" + code), in the
// order of the options page, with their default layout files.
struct Layout {
    std::string_view code;
    std::string_view label;
    std::string_view defaultFile;
};
const std::vector<Layout> &layouts();

// Reads "Settings/<key>" with the key's default for a missing element.
std::string read(const xml::Document &settings, std::string_view key);
// Reads with an explicit default for a missing element.
std::string read(const xml::Document &settings, std::string_view key, std::string_view fallback);
// True only for the exact text "True".
bool isOn(std::string_view value);
bool readFlag(const xml::Document &settings, std::string_view key);

// Sets the key (creating it as the last child of Settings) without saving.
// False when it could not be set (not a key name, no Settings element).
bool set(xml::Document &settings, std::string_view key, std::string_view value);
// Sets the key and saves Settings.xml at once; false when either failed.
bool write(store::Store &store, std::string_view key, std::string_view value);

// Where a download got to ("LastGetSellerTransactions" and its new value).
// A download hands it back instead of storing it, so that it moves only once
// what was downloaded is saved. An empty key means: do not move.
struct Bookmark {
    std::string key;
    std::string value;
    explicit operator bool() const { return !key.empty(); }
};
// Writes the bookmark and saves Settings.xml; true for an empty bookmark.
bool advance(store::Store &store, const Bookmark &bookmark);

// The start-up upgrades of older settings files: adds LastGetMemberMessages
// and LastGetSentMessages, moves DeliveredFollowUpMessage to
// DeliveredNeedsFollowUpMessage (each saving at once) and sets an empty
// DefaultBrowser to "True" in memory only.
void upgrade(store::Store &store);

// The view to show first: Settings/LastTab, or the Delivered view when empty.
std::string firstView(const xml::Document &settings);

} // namespace tw::settings
