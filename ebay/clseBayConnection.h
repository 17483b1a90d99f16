#pragma once
// One connection to the eBay Trading API: puts the user's token into a
// request, posts it with eBay's headers and hands back the response. One
// exchange at a time; a request made while another is in flight is dropped.

#include "platform/xml.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tw::http {
class Exchange;
}

namespace tw::ebay {

// An XML file of the served pages (a path such as "/KORVA/GetItem-561.xml"):
// from the bundle when the pages base is the built-in one, otherwise fetched
// by GET from the pages server. An empty document (no root) when it cannot be
// had; never null.
xml::Document FetchServedXml(std::string_view path);

class clseBayConnection {
  public:
    // `settings` is the Settings document; the token is read from it afresh
    // for every request. It must outlive the connection.
    explicit clseBayConnection(const xml::Document &settings);
    ~clseBayConnection();
    clseBayConnection(const clseBayConnection &) = delete;
    clseBayConnection &operator=(const clseBayConnection &) = delete;

    // The request template /KORVA/<callName>-<level>.xml; an empty document
    // when it cannot be fetched.
    xml::Document CreateInputXml(std::string_view callName, std::string_view level);

    // Starts an exchange and returns at once; RequestComplete reports its end.
    // Dropped silently when an exchange is in flight.
    void StartRequest(std::string_view callName, std::string_view level, xml::Document request);

    // Performs the exchange, pumping the event loop while it waits. Returns
    // the response; an empty document (no root) when the transport failed or
    // the answer was not XML; null when refused because an exchange is in
    // flight (nothing is sent then). The token is written into `request`.
    xml::Document StartSynchronousRequest(std::string_view callName, std::string_view level, xml::Document &request);

    // Raised once per asynchronous exchange, from the event loop, with a copy
    // of the request sent and the response (empty when the transport failed).
    // The connection is free again when it runs, so it may start the next one.
    std::function<void(const std::string &callName, const std::string &level, xml::Document request,
                       xml::Document response)>
        RequestComplete;

    bool busy() const { return m_busy; }
    // The call and level of the exchange in flight or last made.
    const std::string &callName() const { return m_callName; }
    const std::string &level() const { return m_level; }

  private:
    // Steps shared by both modes; false when refused.
    bool prepare(std::string_view callName, std::string_view level, xml::Document &request);

    const xml::Document &m_settings;
    std::string m_callName;
    std::string m_level;
    bool m_busy = false;
    xml::Document m_inFlight{nullptr};
    std::unique_ptr<http::Exchange> m_exchange;
};

} // namespace tw::ebay
