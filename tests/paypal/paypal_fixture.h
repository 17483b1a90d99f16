#pragma once
// A Settings document with PayPal credentials, the test certificates (made
// once per run), and a client under test.

#include "paypal/clsPaypalAPI.h"
#include "platform/config.h"
#include "sandbox/sandbox.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tw::test {

// Credentials that need encoding in every way the body can get wrong.
inline constexpr const char *kUser = "seller_api1.example.com";
inline constexpr const char *kPassword = "pa ss&word=1";
inline constexpr const char *kSignature = "AbC+/=sig-nature.x";

inline const sandbox::TlsFiles &testCertificates()
{
    static TempDir dir;
    static sandbox::TlsFiles files;
    static std::string error;
    static const bool made = sandbox::makeTestCertificates(dir.path(), &files, &error);
    EXPECT_TRUE(made) << error;
    return files;
}

class PaypalTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        settings = xml::Document::parse("<?xml version=\"1.0\" encoding=\"utf-8\"?><Settings/>");
        useCredentials(kUser, kPassword, kSignature, "Signature");
        api = std::make_unique<paypal::clsPaypalAPI>(settings);
    }
    void TearDown() override { setConfig(Config()); }

    void useCredentials(const std::string &user, const std::string &password, const std::string &signature,
                        const std::string &mode)
    {
        settings::set(settings, "PaypalAPIUser", user);
        settings::set(settings, "PaypalAPIPassword", password);
        settings::set(settings, "PaypalAPISignature", signature);
        settings::set(settings, "PaypalAPIAuthMode", mode);
    }

    static std::string field(const xml::Document &doc, const std::string &name)
    {
        return GetNodeText(doc, "//" + name, "(missing)");
    }

    MockClock clock{DateTime::fromParts(2009, 10, 20, 9, 30, 0)};
    xml::Document settings{nullptr};
    std::unique_ptr<paypal::clsPaypalAPI> api;
};

} // namespace tw::test
