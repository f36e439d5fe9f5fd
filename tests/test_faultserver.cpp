// The fault server's own features that client tests rely on without seeing them directly:
// connections kept open for further requests, ranges with their validators, faults that hold for
// the first requests only, resets, and the byte and connection counts. Spoken to over a plain
// socket so every byte of the answers can be checked.

#include "FaultServer.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

struct Reply {
    QByteArray bytes;    // everything received until the server closed
    bool reset = false;  // the connection ended with a reset
};

// Sends the requests on one connection and reads until the server closes it.
Reply exchange(quint16 port, const QByteArray& requests)
{
    Reply reply;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
        || ::send(fd, requests.constData(), size_t(requests.size()), MSG_NOSIGNAL) != requests.size()) {
        ::close(fd);
        ADD_FAILURE() << "cannot talk to the server";
        return reply;
    }
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) {
            ADD_FAILURE() << "the server kept the connection open";
            break;
        }
        char buf[65536];
        const ssize_t r = ::recv(fd, buf, sizeof buf, 0);
        if (r > 0) {
            reply.bytes.append(buf, r);
            continue;
        }
        reply.reset = r < 0 && errno == ECONNRESET;
        break;
    }
    ::close(fd);
    return reply;
}

struct Response {
    int status = 0;
    QByteArray head;
    QByteArray body;
    QByteArray header(const QByteArray& name) const
    {
        for (const QByteArray& line : head.split('\n'))
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        return {};
    }
};

// Splits a stream of answers by their Content-Length (the last one may run to the end).
QList<Response> parse(QByteArray bytes)
{
    QList<Response> out;
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf("\r\n\r\n");
        if (end < 0)
            break;
        Response r;
        r.head = bytes.left(end);
        r.status = r.head.mid(9, 3).toInt();
        const QByteArray length = r.header("Content-Length");
        const qsizetype n = length.isEmpty() ? bytes.size() - end - 4 : length.toLongLong();
        r.body = bytes.mid(end + 4, n);
        bytes.remove(0, end + 4 + r.body.size());
        out.append(r);
    }
    return out;
}

QByteArray get(const QByteArray& path, const QByteArray& headers = {}, const QByteArray& version = "HTTP/1.0")
{
    return "GET " + path + ' ' + version + "\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

}  // namespace

TEST(FaultServer, KeepsConnectionsOpenWhenAskedAndCountsThem)
{
    FaultServer srv;
    srv.setBody("/a", "alpha");
    srv.setBody("/b", "bravo!");
    struct Case {
        const char* name;
        QByteArray requests;
        int answers;
    } cases[] = {
        {"HTTP/1.1 keeps the connection until asked to close",
         get("/a", {}, "HTTP/1.1") + get("/b", {}, "HTTP/1.1") + get("/a", "Connection: close\r\n", "HTTP/1.1"), 3},
        {"HTTP/1.0 with keep-alive", get("/a", "Connection: keep-alive\r\n") + get("/b"), 2},
        {"plain HTTP/1.0 closes after one answer", get("/a") + get("/b"), 1},
    };
    int connections = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QList<Response> answers = parse(exchange(srv.port(), c.requests).bytes);
        ++connections;
        ASSERT_EQ(answers.size(), c.answers);
        for (qsizetype i = 0; i < answers.size(); ++i) {
            EXPECT_EQ(answers[i].status, 200);
            EXPECT_EQ(answers[i].header("Connection"), i + 1 < c.answers ? "keep-alive" : "close");
        }
        EXPECT_EQ(answers[0].body, "alpha");
        EXPECT_EQ(srv.connectionCount(), connections);
    }
    EXPECT_EQ(srv.bodyBytesSent("/a"), 4 * 5);
    EXPECT_EQ(srv.bodyBytesSent("/b"), 2 * 6);
    EXPECT_EQ(srv.bodyBytesSent(), 4 * 5 + 2 * 6);
}

TEST(FaultServer, RangesHonourIfRangeForBodiesAndFiles)
{
    TempDir root;
    const QByteArray content = "0123456789";
    root.write("f.bin", content);
    FaultServer srv(root.path());
    srv.setBody("/b.bin", content);
    for (const QByteArray path : {"/b.bin", "/f.bin"}) {
        // The validators come with every whole answer.
        const Response whole = parse(exchange(srv.port(), get(path)).bytes).value(0);
        const QByteArray etag = whole.header("ETag"), date = whole.header("Last-Modified");
        ASSERT_TRUE(etag.startsWith('"')) << path.constData();
        ASSERT_TRUE(date.endsWith("GMT")) << path.constData();
        struct Case {
            const char* name;
            QByteArray headers;
            int status;
            QByteArray body, contentRange;
        } cases[] = {
            {"open range", "Range: bytes=4-\r\n", 206, "456789", "bytes 4-9/10"},
            {"closed range", "Range: bytes=2-3\r\n", 206, "23", "bytes 2-3/10"},
            {"suffix range", "Range: bytes=-3\r\n", 206, "789", "bytes 7-9/10"},
            {"past the end", "Range: bytes=10-\r\n", 416, "", "bytes */10"},
            {"matching ETag", "Range: bytes=8-\r\nIf-Range: " + etag + "\r\n", 206, "89", "bytes 8-9/10"},
            {"stale ETag", "Range: bytes=8-\r\nIf-Range: \"other\"\r\n", 200, content, ""},
            {"weak ETag", "Range: bytes=8-\r\nIf-Range: W/" + etag + "\r\n", 200, content, ""},
            {"matching date", "Range: bytes=8-\r\nIf-Range: " + date + "\r\n", 206, "89", "bytes 8-9/10"},
            {"stale date", "Range: bytes=8-\r\nIf-Range: Thu, 01 Jan 2004 00:00:00 GMT\r\n", 200, content, ""},
            {"several ranges are ignored", "Range: bytes=1-2,4-5\r\n", 200, content, ""},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(path.constData()) + ": " + c.name);
            const QList<Response> r = parse(exchange(srv.port(), get(path, c.headers)).bytes);
            ASSERT_EQ(r.size(), 1);
            EXPECT_EQ(r[0].status, c.status);
            EXPECT_EQ(r[0].body, c.body);
            EXPECT_EQ(r[0].header("Content-Range"), c.contentRange);
        }
    }
    // A changed body changes its derived ETag; a set ETag replaces it.
    const QByteArray before = parse(exchange(srv.port(), get("/b.bin")).bytes).value(0).header("ETag");
    srv.setBody("/b.bin", "9876543210");
    EXPECT_NE(parse(exchange(srv.port(), get("/b.bin")).bytes).value(0).header("ETag"), before);
    srv.setETag("/b.bin", "\"v7\"");
    const Response r = parse(exchange(srv.port(), get("/b.bin", "Range: bytes=9-\r\nIf-Range: \"v7\"\r\n")).bytes)[0];
    EXPECT_EQ(r.body, "0");
    EXPECT_EQ(r.header("ETag"), "\"v7\"");
}

TEST(FaultServer, FailTimesFailsTheFirstRequestsThenServes)
{
    FaultServer srv;
    const QByteArray body(100'000, 'x');
    srv.setBody("/f", body);
    srv.setBody("/other", "untouched");
    struct Case {
        const char* name;
        FaultServer::Fault fault;
        int answers;        // to a failing request and one for another path behind it
        int status;         // of the failing answer
        qint64 bodyBytes;   // body bytes of the failing answer
        bool reset;
    } cases[] = {
        {"503 with Retry-After keeps the connection", FaultServer::statusFault(503, "Retry-After: 2\r\n"), 2, 503,
         24, false},
        {"429", FaultServer::statusFault(429), 2, 429, 22, false},
        {"reset", FaultServer::resetFault(), 0, 0, 0, true},
        {"cut after 1000 body bytes closes the connection", FaultServer::cutFault(1000), 1, 200, 1000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        srv.failTimes("/f", 2, c.fault);
        const qint64 sentBefore = srv.bodyBytesSent("/f");
        for (int i = 0; i < 2; ++i) {
            const Reply reply = exchange(srv.port(), get("/f", "Connection: keep-alive\r\n") + get("/other"));
            EXPECT_EQ(reply.reset, c.reset);
            const QList<Response> r = parse(reply.bytes);
            ASSERT_EQ(r.size(), c.answers);
            if (c.answers == 0)
                continue;
            EXPECT_EQ(r[0].status, c.status);
            EXPECT_EQ(r[0].body.size(), c.bodyBytes);
            EXPECT_EQ(r[0].header("Retry-After"), c.status == 503 ? "2" : "");
            if (c.answers == 2)
                EXPECT_EQ(r[1].body, "untouched");
            else
                EXPECT_EQ(r[0].header("Content-Length"), QByteArray::number(body.size())) << "the full length is announced";
        }
        const QList<Response> served = parse(exchange(srv.port(), get("/f")).bytes);
        ASSERT_EQ(served.size(), 1);
        EXPECT_EQ(served[0].status, 200);
        EXPECT_EQ(served[0].body, body);
        EXPECT_EQ(srv.bodyBytesSent("/f") - sentBefore, 2 * c.bodyBytes + body.size());
    }
}

TEST(FaultServer, StreamsALargeFileFromAnOffset)
{
    TempDir root;
    QByteArray content(24 * 1024 * 1024 + 123, '\0');
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = char((i * 2654435761u) >> 11);
    root.write("big.bin", content);
    FaultServer srv(root.path());
    const qint64 from = content.size() / 2 + 7;
    const QList<Response> r =
        parse(exchange(srv.port(), get("/big.bin", "Range: bytes=" + QByteArray::number(from) + "-\r\n")).bytes);
    ASSERT_EQ(r.size(), 1);
    EXPECT_EQ(r[0].status, 206);
    EXPECT_TRUE(r[0].body == content.mid(from)) << "the part differs from the file";
    EXPECT_EQ(srv.bodyBytesSent(), content.size() - from);
}
