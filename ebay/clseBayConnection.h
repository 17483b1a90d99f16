#pragma once
// One connection to eBay: posts a Trading API request with eBay's headers
// and hands back the response, and makes REST calls (ebay/rest.h). One
// exchange at a time; a request made while another is in flight is refused.
//
// The credential is chosen by what the account in Settings.xml holds, read
// afresh for every request: with an OAuth sign-in (ebay/oauth.h) Trading
// requests carry the user's access token in X-EBAY-API-IAF-TOKEN and no
// RequesterCredentials/eBayAuthToken, and an answer that says the token
// expired (HTTP 401, or eBay's error naming the IAF token) renews it once and
// sends the request once more. Otherwise the Auth'n'Auth token goes into
// RequesterCredentials/eBayAuthToken as it always did.

#include "ebay/rest.h"
#include "platform/xml.h"

#include <string>
#include <string_view>

namespace tw::ebay {

class clseBayConnection {
  public:
    // `settings` is the Settings document; the credentials are read from it
    // afresh for every request. It must outlive the connection.
    explicit clseBayConnection(const xml::Document &settings);
    clseBayConnection(const clseBayConnection &) = delete;
    clseBayConnection &operator=(const clseBayConnection &) = delete;

    // Performs the exchange, pumping the event loop while it waits. Returns
    // the response; an empty document (no root) when the transport failed or
    // the answer was not XML; null when refused because an exchange is in
    // flight (nothing is sent then). The Auth'n'Auth token is written into
    // `request`, or, with an OAuth sign-in, its eBayAuthToken element (and a
    // RequesterCredentials left empty) is removed from it. When the OAuth
    // sign-in cannot give a token (it ended, eBay refused it or a fresh token)
    // nothing more is sent and the result is a Failure response of the call
    // whose Errors/ShortMessage says so; signInProblem() then holds the same.
    xml::Document StartSynchronousRequest(std::string_view callName, std::string_view level, xml::Document &request);

    // A REST call with the user's access token (see ebay/rest.h); NotSent
    // while another exchange is in flight or without an OAuth sign-in.
    RestResponse SynchronousRestRequest(const RestRequest &request);

    bool busy() const { return m_busy; }
    // Why the last exchange brought no eBay answer, in words ("" when one came).
    const std::string &lastProblem() const { return m_problem; }
    // Set when the last exchange failed because the seller must sign in
    // again; "" otherwise.
    const std::string &signInProblem() const { return m_signInProblem; }
    // The call and level of the exchange in flight or last made.
    const std::string &callName() const { return m_callName; }
    const std::string &level() const { return m_level; }

  private:
    xml::Document sendWithAuthToken(xml::Document &request);
    xml::Document sendWithUserToken(xml::Document &request);

    const xml::Document &m_settings;
    std::string m_callName;
    std::string m_level;
    bool m_busy = false;
    std::string m_problem;
    std::string m_signInProblem;
};

} // namespace tw::ebay
