#pragma once
// A session in a temporary data folder, a fixed clock, and a scripted
// loopback peer standing in for eBay's API endpoint.

#include "ebay/clseBayAPI.h"
#include "platform/config.h"
#include "store/basFunctions.h"
#include "store/session.h"
#include "store/settings.h"
#include "tests/support/fake_shell.h"
#include "tests/support/loopback_http.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

namespace tw::test {

// A response document of call `call` with Ack `ack` and `inner` markup.
inline std::string ebayResponse(const std::string &call, const std::string &ack, const std::string &inner = {})
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><" + call +
           "Response xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Timestamp>2008-01-05T09:03:07.000Z</Timestamp><Ack>" +
           ack + "</Ack>" + inner + "</" + call + "Response>";
}

inline std::string failure(const std::string &call, const std::string &message)
{
    return ebayResponse(call, "Failure", "<Errors><ShortMessage>" + message + "</ShortMessage></Errors>");
}

class EbayTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        Config c;
        c.set("ebay/ApiUrl", peer.url("/ws/api.dll"));
        c.set("net/TimeoutSeconds", "5");
        setConfig(c);
        session.openStore(dir.path());
        settings::set(settings(), "eBayAuthToken", "TOKEN-1");
        session.store.save(store::Doc::Settings);
        api = std::make_unique<ebay::clseBayAPI>(session, ui);
    }
    void TearDown() override
    {
        api.reset();
        setConfig(Config());
    }

    xml::Document &settings() { return session.store.settings(); }
    std::string setting(const std::string &key) { return settings::read(settings(), key); }
    // The same setting as saved in Settings.xml.
    std::string savedSetting(const std::string &key)
    {
        return GetNodeText(xml::Document::load(session.store.path(store::Doc::Settings)), "Settings/" + key);
    }
    // Parsed body of request `i` sent to the peer.
    xml::Document sent(size_t i) const { return xml::Document::parse(peer.requests().at(i).body); }

    MockClock clock{DateTime::fromParts(2008, 1, 5, 9, 3, 7)};
    TempDir dir;
    LoopbackHttp peer;
    Session session;
    test::FakeShell ui;
    std::unique_ptr<ebay::clseBayAPI> api;
};

} // namespace tw::test
