#pragma once
// A scripted HTTP peer on 127.0.0.1 (ephemeral port), served from the test's
// own event loop: it records every request and answers from a queue or a
// handler. One request per connection.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tw::test {

struct RecordedRequest {
    std::string method;
    std::string target;                                       // path and query
    std::vector<std::pair<std::string, std::string>> headers; // in the order received
    std::string body;

    // The value of the first header of that name (any case); "" when absent.
    std::string header(std::string_view name) const;
};

struct ScriptedResponse {
    int status = 200;
    std::string body;
    std::string contentType = "text/xml; charset=utf-8";
    // Never answer: the client's time-out has to end the exchange.
    bool silent = false;
    // Close the connection without answering.
    bool drop = false;
    // When set, these bytes go out instead of the answer built from the
    // fields above (status line and headers included), and the connection
    // closes: for answers that are cut off or framed oddly.
    std::string raw = {};
};

class LoopbackHttp {
  public:
    using Handler = std::function<ScriptedResponse(const RecordedRequest &)>;

    LoopbackHttp();
    ~LoopbackHttp();
    LoopbackHttp(const LoopbackHttp &) = delete;
    LoopbackHttp &operator=(const LoopbackHttp &) = delete;

    // "http://127.0.0.1:<port>" followed by `path`.
    std::string url(std::string_view path = "/") const;

    // Answers, used in order; when none is left the answer is a 404.
    void enqueue(std::string body, int status = 200);
    void enqueue(ScriptedResponse response);
    // A handler answers instead of the queue.
    void setHandler(Handler handler);

    const std::vector<RecordedRequest> &requests() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace tw::test
