// Any bytes as what a server sends: the reader comes to the same verdict,
// status, headers and body however the bytes were split on the way, a body
// it calls whole never holds more than came, and a Content-Length answer is
// whole only with all of its bytes.
#include "platform/http_reader.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tw;

namespace {

struct Read {
    http::ResponseReader::State state;
    int status;
    http::Headers headers;
    QByteArray body;
};

Read readAll(const QByteArray &bytes, qsizetype piece, bool close)
{
    http::ResponseReader reader;
    for (qsizetype at = 0; at < bytes.size() && reader.state() == http::ResponseReader::State::Reading; at += piece)
        reader.feed(bytes.mid(at, piece));
    if (close) reader.closed();
    return {reader.state(), reader.status(), reader.headers(), reader.body()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte picks how the bytes are split, the rest is the answer.
    if (size == 0) return 0;
    const qsizetype piece = 1 + data[0] % 7;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    for (bool close : {false, true}) {
        const Read whole = readAll(bytes, bytes.size() + 1, close);
        const Read split = readAll(bytes, piece, close);
        TW_FUZZ_CHECK(whole.state == split.state);
        if (whole.state != http::ResponseReader::State::Whole) continue;
        TW_FUZZ_CHECK(whole.status == split.status && whole.headers == split.headers && whole.body == split.body);
        TW_FUZZ_CHECK(whole.status >= 200 && whole.body.size() <= bytes.size());
        bool chunked = whole.status == 204 || whole.status == 304;
        for (const auto &[name, value] : whole.headers)
            chunked |= name == "transfer-encoding";
        for (const auto &[name, value] : whole.headers)
            if (name == "content-length" && !chunked) TW_FUZZ_CHECK(whole.body.size() == std::stoll(value));
    }
    return 0;
}
