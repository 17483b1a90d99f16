#pragma once
// Shared pieces of the postage tests: the data folder, the bundled DAZzle
// definitions, a stand-in for the page side (a form as the seller sends it
// after the page was filled), golden comparison and bounded waits.

#include "platform/xml.h"
#include "postage/form.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tw::test {

std::filesystem::path postageData(std::string_view relative);
// A document of the data folder; a test failure when it does not parse.
xml::Document loadPostageData(std::string_view relative);
// The DAZzle definitions the program ships with.
xml::Document bundledDazzleDefinitions();

// What the page holds after the fill and both change handlers ran, read
// back as the page side will: the page's own defaults, the filled values,
// check boxes as "True"/"False", the rules of the mail class and the layout
// stored for it.
postage::FormValues sentForm(postage::FormKind kind, const postage::FormFill &fill, const xml::Document &settings);
// Whether the page shows its customs section for this form.
bool customsShown(const postage::FormValues &form);

// Compares with the golden file byte for byte; TW_UPDATE_GOLDEN=1 rewrites it.
void expectGolden(const std::string &actual, const std::filesystem::path &golden);

// Polls `condition` until it holds or `limit` has passed.
bool waitFor(const std::function<bool()> &condition, std::chrono::milliseconds limit = std::chrono::seconds(30));

} // namespace tw::test
