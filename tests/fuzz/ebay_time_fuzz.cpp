// Any text through eBayTimeToDate; a time it accepts survives a round trip
// through DateToeBayTime (to the second).
#include "store/basFunctions.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    tw::DateTime when = tw::eBayTimeToDate(tw::fuzz::text(data, size));
    if (!when.isValid()) return 0;
    TW_FUZZ_CHECK(when.msec() == 0);
    std::string text = tw::DateToeBayTime(when);
    TW_FUZZ_CHECK(text.size() == 20 && text[10] == 'T' && text.back() == 'Z');
    TW_FUZZ_CHECK(tw::eBayTimeToDate(text) == when);
    return 0;
}
