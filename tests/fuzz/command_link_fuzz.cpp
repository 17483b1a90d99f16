// Any text as a navigation address: recognised as a command link or not,
// and split into its parameters.
#include "tests/fuzz/fuzz_support.h"
#include "ui/commandlink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view url = tw::fuzz::text(data, size);
    tw::ui::isCommandLink(url);
    for (const auto &[key, value] : tw::ui::parseCommandLink(url)) {
        TW_FUZZ_CHECK(key.find('&') == std::string::npos && key.find('=') == std::string::npos);
        TW_FUZZ_CHECK(value.find('&') == std::string::npos);
    }
    return 0;
}
