// Any text as a navigation address: recognised as a command link or not,
// and split into its parameters; any text as a value of our own link comes
// back as it was written.
#include "tests/fuzz/fuzz_support.h"
#include "ui/commandlink.h"
#include "ui/rows.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view url = tw::fuzz::text(data, size);
    tw::ui::isCommandLink(url);
    for (const auto &[key, value] : tw::ui::parseCommandLink(url))
        TW_FUZZ_CHECK(key.find('&') == std::string::npos && key.find('=') == std::string::npos);
    const std::string value(url);
    tw::Params own = tw::ui::parseCommandLink(
        "http://plinthway/?Action=AddNoteClick&ItemID=" + tw::ui::queryEncode(value) + "&TransactionID=1");
    TW_FUZZ_CHECK(own.size() == 3 && own["ItemID"] == value);
    return 0;
}
