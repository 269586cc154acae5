// HttpResponseParser on arbitrary bytes. The same bytes go to three parsers: all at once, in
// pieces whose sizes come from the input, and one byte at a time. However the connection
// splits an answer, the parser must reach the same verdict, status, body and keep-alive, and
// never hold more body than its limit.
#include "device/HttpResponseParser.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_response_parser: %s\n", what);
        std::abort();
    }
}

void checkSame(const HttpResponseParser &a, const HttpResponseParser &b)
{
    check(a.state() == b.state(), "state differs between splits");
    check(a.status() == b.status(), "status differs between splits");
    // A failed response's body is never used; only a whole or growing one must agree.
    if (a.state() == HttpResponseParser::State::Complete
        || a.state() == HttpResponseParser::State::Incomplete)
        check(a.body() == b.body(), "body differs between splits");
    check(a.keepAlive() == b.keepAlive(), "keep-alive differs between splits");
}

void checkSound(const HttpResponseParser &parser, qint64 maxBody)
{
    if (parser.state() == HttpResponseParser::State::Complete
        || parser.state() == HttpResponseParser::State::Incomplete)
        check(parser.body().size() <= maxBody, "body above the limit");
    if (parser.state() == HttpResponseParser::State::Complete) {
        check(parser.status().has_value(), "complete without a status");
        check(*parser.status() >= 200 && *parser.status() <= 599, "final status out of range");
    }
    if (parser.status())
        check(*parser.status() >= 200 && *parser.status() <= 599, "status out of range");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // First byte: the body limit (small ones reach TooLarge); second: the seed of the pieces.
    static constexpr qint64 limits[] = {0, 1, 16, 100, 4096, 1024 * 1024};
    const qint64 maxBody = limits[data[0] % std::size(limits)];
    uint32_t seed = data[1] | 1u;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));

    HttpResponseParser whole(maxBody);
    whole.feed(bytes);

    HttpResponseParser pieces(maxBody);
    for (qsizetype pos = 0; pos < bytes.size();) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype take = std::min<qsizetype>(bytes.size() - pos, 1 + (seed >> 16) % 64);
        pieces.feed(bytes.sliced(pos, take));
        pos += take;
    }

    HttpResponseParser single(maxBody);
    if (bytes.size() <= 4096) {
        for (const char c : bytes)
            single.feed(QByteArrayView(&c, 1));
    }

    checkSame(whole, pieces);
    checkSound(whole, maxBody);
    if (bytes.size() <= 4096)
        checkSame(whole, single);

    // An empty read changes nothing; then the connection ends.
    whole.feed({});
    pieces.feed({});
    checkSame(whole, pieces);
    whole.endOfStream();
    pieces.endOfStream();
    checkSame(whole, pieces);
    checkSound(whole, maxBody);
    check(whole.state() != HttpResponseParser::State::Incomplete, "still incomplete after the end");
    return 0;
}
