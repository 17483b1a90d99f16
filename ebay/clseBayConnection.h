#pragma once
// One connection to the eBay Trading API: puts the user's token into a
// request, posts it with eBay's headers and hands back the response. One
// exchange at a time; a request made while another is in flight is refused.

#include "platform/xml.h"

#include <string>
#include <string_view>

namespace tw::ebay {

class clseBayConnection {
  public:
    // `settings` is the Settings document; the token is read from it afresh
    // for every request. It must outlive the connection.
    explicit clseBayConnection(const xml::Document &settings);
    clseBayConnection(const clseBayConnection &) = delete;
    clseBayConnection &operator=(const clseBayConnection &) = delete;

    // Performs the exchange, pumping the event loop while it waits. Returns
    // the response; an empty document (no root) when the transport failed or
    // the answer was not XML; null when refused because an exchange is in
    // flight (nothing is sent then). The token is written into `request`.
    xml::Document StartSynchronousRequest(std::string_view callName, std::string_view level, xml::Document &request);

    bool busy() const { return m_busy; }
    // Why the last exchange brought no eBay answer, in words ("" when one came).
    const std::string &lastProblem() const { return m_problem; }
    // The call and level of the exchange in flight or last made.
    const std::string &callName() const { return m_callName; }
    const std::string &level() const { return m_level; }

  private:
    const xml::Document &m_settings;
    std::string m_callName;
    std::string m_level;
    bool m_busy = false;
    std::string m_problem;
};

} // namespace tw::ebay
