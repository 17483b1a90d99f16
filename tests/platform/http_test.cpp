// What counts as an answer: a response whose body arrived whole, whatever its
// status. A connection that ends early leaves no answer, however much of one
// had come: the callers must not read half a body as the service's word.

#include "platform/http.h"
#include "tests/support/loopback_http.h"

#include <gtest/gtest.h>

using namespace tw;

TEST(Http, OnlyAWholeBodyIsAnAnswer)
{
    struct Case {
        const char *what;
        test::ScriptedResponse reply;
        bool ok;
        int status;
        const char *body;
    };
    auto raw = [](std::string bytes) {
        test::ScriptedResponse r;
        r.raw = std::move(bytes);
        return r;
    };
    test::ScriptedResponse dropped;
    dropped.drop = true;
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n";
    const Case cases[] = {
        {"whole, by length", raw(head + "Content-Length: 11\r\n\r\nACK=Success"), true, 200, "ACK=Success"},
        {"whole, till the close", raw(head + "Connection: close\r\n\r\nACK=Success"), true, 200, "ACK=Success"},
        {"whole, chunked", raw(head + "Transfer-Encoding: chunked\r\n\r\n4\r\nACK=\r\n7\r\nSuccess\r\n0\r\n\r\n"), true,
         200, "ACK=Success"},
        {"an error status, whole", raw("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 5\r\n\r\n<h1/>"), true,
         500, "<h1/>"},
        {"shorter than its length", raw(head + "Content-Length: 40\r\n\r\nACK=Failure&L_SHO"), false, 0, ""},
        {"headers, then nothing", raw(head + "Content-Length: 40\r\n\r\n"), false, 0, ""},
        {"an error status, cut off", raw("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 90\r\n\r\n<html>"), false,
         0, ""},
        {"chunked without its last chunk",
         raw(head + "Transfer-Encoding: chunked\r\n\r\n4\r\nACK=\r\n7\r\nFailure\r\n"), false, 0, ""},
        {"chunked, cut inside a chunk", raw(head + "Transfer-Encoding: chunked\r\n\r\n20\r\nACK=Fail"), false, 0, ""},
        {"dropped before any answer", dropped, false, 0, ""},
    };
    for (const Case &c : cases) {
        test::LoopbackHttp server;
        server.enqueue(c.reply);
        http::Request request;
        request.method = "POST";
        request.url = server.url("/nvp");
        request.body = "METHOD=RefundTransaction";
        request.timeoutMs = 10000;
        const http::Response response = http::send(request);
        EXPECT_EQ(response.ok, c.ok) << c.what;
        EXPECT_FALSE(response.timedOut) << c.what;
        EXPECT_EQ(server.requests().size(), 1u) << c.what;
        if (c.ok) {
            EXPECT_EQ(response.status, c.status) << c.what;
            EXPECT_EQ(response.body.toStdString(), c.body) << c.what;
            EXPECT_TRUE(response.error.empty()) << c.what;
        } else {
            // Nothing of the part that came may pass for an answer.
            EXPECT_TRUE(response.body.isEmpty()) << c.what;
            EXPECT_FALSE(response.error.empty()) << c.what;
        }
    }
}
