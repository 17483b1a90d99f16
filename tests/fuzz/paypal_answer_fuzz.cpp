// Any bytes as a PayPal NVP answer: decoded into pairs and stored as the
// details element. The document always saves and reads back, and each stored
// child holds the last value received under its name.
#include "paypal/clsPaypalAPI.h"
#include "tests/fuzz/fuzz_support.h"

#include <map>

using namespace tw;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto pairs = paypal::parseNvp(fuzz::text(data, size));
    xml::Document doc = xml::Document::parse("<?xml version=\"1.0\" encoding=\"utf-8\"?><PaypalTransactions/>");
    xml::Node container = doc.root().appendElement("PaypalTransaction");
    paypal::storeNvp(container, pairs);

    std::map<std::string, std::string> last;
    for (const auto &[name, value] : pairs)
        last[name] = value;
    for (xml::Node child = container.firstElement(); child; child = child.nextElement()) {
        auto it = last.find(child.name());
        TW_FUZZ_CHECK(it != last.end());
        // Text XML cannot hold is cleaned on the way in; what it can hold stays.
        if (xml::Document::parse("<a>" + xml::escape(it->second) + "</a>")) TW_FUZZ_CHECK(child.text() == it->second);
    }
    xml::Document back = xml::Document::parse(doc.toString());
    TW_FUZZ_CHECK(back && back.root() && back.root().name() == "PaypalTransactions");
    return 0;
}
