// Any text through URLDecode, and through URLEncode and back.
#include "store/basFunctions.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view text = tw::fuzz::text(data, size);
    std::string decoded = tw::URLDecode(text);
    TW_FUZZ_CHECK(decoded.size() <= text.size());
    TW_FUZZ_CHECK(tw::URLDecode(tw::URLEncode(text)) == text);
    return 0;
}
