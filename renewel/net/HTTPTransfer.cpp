#include "net/HTTPTransfer.h"

#include "net/HTTPPolicy.h"
#include "net/HTTPSink.h"
#include "net/RateLimiter.h"

#include "Result.h"

#include <QFile>
#include <QUrl>

#include <cerrno>
#include <thread>

#include <curl/curl.h>

#include <algorithm>

namespace {
constexpr long kMaxRedirects = 10;
constexpr long kBufferSize = 1024 * 1024;
constexpr long kSharedBufferSize = 256 * 1024;  // one per transfer of an engine, many at once
constexpr qint64 kDrainLimit = 64 * 1024;
constexpr auto kSampleEvery = std::chrono::milliseconds(100);

struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};

// The CA bundle the environment names, and what is wrong with it.
QString caBundleError(const QString& why)
{
    return QStringLiteral("RENEWEL_CA_BUNDLE: %1: %2").arg(qEnvironmentVariable("RENEWEL_CA_BUNDLE"), why);
}

QString seconds(qint64 ms)
{
    return ms % 1000 == 0 ? QString::number(ms / 1000) + QStringLiteral(" s") : QString::number(ms) + QStringLiteral(" ms");
}
}  // namespace

HTTPSession::HTTPSession() : multi_(curl_multi_init()) {}

HTTPSession::~HTTPSession()
{
    if (multi_)
        curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

void HTTPSession::wake()
{
    if (multi_)
        curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

HTTPTransfer::HTTPTransfer(const HTTPRequest& request, HTTPSink& sink, HTTPSession& session,
                             const std::atomic<bool>& terminated)
    : request_(request), sink_(sink), session_(session), terminated_(terminated)
{
}

// Names the scheme a redirect was refused for: an https transfer never goes on in clear text,
// and nothing but http and https is ever followed.
QString HTTPTransfer::refusedRedirect() const
{
    const QString from = SplitUrl(request_.URL).Https ? QStringLiteral("https") : QStringLiteral("http");
    const QString to = QUrl(request_.URL).resolved(QUrl(QString::fromUtf8(location_))).scheme().toLower();
    return QStringLiteral("protocol not allowed after a redirect (%1 to %2)").arg(from, to.isEmpty() ? QStringLiteral("?") : to);
}

QString HTTPTransfer::curlError(int code) const
{
    switch (code) {
    case CURLE_COULDNT_CONNECT: return QStringLiteral("connection refused");
    case CURLE_COULDNT_RESOLVE_HOST: return QStringLiteral("host not found");
    case CURLE_OPERATION_TIMEDOUT: return QStringLiteral("connection timed out after ") + seconds(request_.ConnectTimeoutMs);
    case CURLE_RECV_ERROR: return QStringLiteral("connection reset");
    case CURLE_GOT_NOTHING: return QStringLiteral("empty reply from server");
    case CURLE_TOO_MANY_REDIRECTS: return QStringLiteral("too many redirects");
    case CURLE_SSL_CACERT_BADFILE:
        if (!qEnvironmentVariableIsEmpty("RENEWEL_CA_BUNDLE"))
            return caBundleError(QStringLiteral("no usable certificate in it"));
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
        if (result_.HttpStatus >= 300 && result_.HttpStatus < 400)
            return refusedRedirect();
        break;
    case CURLE_PARTIAL_FILE:
        return QStringLiteral("short body (%1 of %2 bytes)").arg(result_.Bytes).arg(result_.TotalSize);
    default: break;
    }
    return QString::fromUtf8(curl_easy_strerror(CURLcode(code)));
}

struct HTTPTransfer::Owned {
    std::unique_ptr<CURL, EasyDeleter> easy;
    std::unique_ptr<curl_slist, SlistDeleter> headers;
};

bool HTTPTransfer::prepare()
{
    owned_ = std::make_shared<Owned>();
    owned_->easy.reset(curl_easy_init());
    if (!owned_->easy)
        throw std::bad_alloc();
    easy_ = owned_->easy.get();
    start_ = now();
    return setup(easy_);
}

// Appends one request header line to the transfer's own list.
void HTTPTransfer::addHeader(const QByteArray& line)
{
    std::unique_ptr<curl_slist, SlistDeleter>& headers = owned_->headers;
    curl_slist* l = curl_slist_append(headers.get(), line.constData());
    if (!l)
        throw std::bad_alloc();
    headers.release();
    headers.reset(l);
}

void HTTPTransfer::addRequestHeaders()
{
    addHeader(request_.AcceptTypes.isEmpty() ? QByteArray("Accept:") : "Accept: " + request_.AcceptTypes);
    // HTTP/1.0 asks for the connection to stay open (so does HTTP/1.1 to a server that answered
    // in 1.0); the session reuses it for the next request. HTTP/2 leaves the line out.
    addHeader("Connection: keep-alive");
    if (!request_.Ranges.isEmpty())
        addHeader("Range: bytes=" + request_.Ranges);
    else if (request_.RangeFrom > 0) {
        addHeader("Range: bytes=" + QByteArray::number(request_.RangeFrom) + '-');
        addHeader("If-Range: " + request_.IfRange);
    }
    if (!request_.Validator.isEmpty()) {
        // An ETag is quoted (or weak, W/"..."); anything else is a date.
        const bool tag = request_.Validator.startsWith('"') || request_.Validator.startsWith("W/");
        addHeader((tag ? "If-None-Match: " : "If-Modified-Since: ") + request_.Validator);
    }
    if (!request_.UseCache) {
        addHeader("Cache-Control: no-cache");
        addHeader("Pragma: no-cache");
    }
    if (!request_.PostQuery.isEmpty())
        addHeader("Content-Type: application/x-www-form-urlencoded");
}

void HTTPTransfer::setProtocol(void* easy, bool https) const
{
    CURL* h = static_cast<CURL*>(easy);
    if (request_.NewerHttp) {
        // HTTP/2 where the server offers it over TLS, its streams sharing one connection: a new
        // transfer waits until the first connection's handshake says whether it multiplexes.
        // Plain http is HTTP/1.1 from the start, and waiting there would hold every transfer
        // back until the first answer came: each opens its own connection at once instead.
        curl_easy_setopt(h, CURLOPT_HTTP_VERSION, long(https ? CURL_HTTP_VERSION_2TLS : CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(h, CURLOPT_PIPEWAIT, https ? 1L : 0L);
    } else {
        curl_easy_setopt(h, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    }
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // A transfer that began as https never continues in clear text.
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(request_.ConnectTimeoutMs));
}

void HTTPTransfer::setCallbacks(void* easy)
{
    CURL* h = static_cast<CURL*>(easy);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, request_.NewerHttp ? kSharedBufferSize : kBufferSize);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &HTTPTransfer::writeCallback);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &HTTPTransfer::headerCallback);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(h, CURLOPT_PRIVATE, this);
}

// Agent, referer, credentials and the form of a POST.
void HTTPTransfer::setRequestFields(void* easy) const
{
    CURL* h = static_cast<CURL*>(easy);
    if (!request_.Agent.isEmpty())
        curl_easy_setopt(h, CURLOPT_USERAGENT, request_.Agent.constData());
    if (!request_.Referer.isEmpty())
        curl_easy_setopt(h, CURLOPT_REFERER, request_.Referer.constData());
    if (!request_.UserName.isEmpty() || !request_.Password.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, request_.UserName.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, request_.Password.constData());
    }
    if (!request_.PostQuery.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request_.PostQuery.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request_.PostQuery.constData());
    }
}

// RENEWEL_CA_BUNDLE names the certificates to trust in place of the system's.
bool HTTPTransfer::setCaBundle(void* easy, bool https)
{
    const QByteArray caBundle = qgetenv("RENEWEL_CA_BUNDLE");
    if (caBundle.isEmpty())
        return true;
    if (QFile bundle(QFile::decodeName(caBundle)); https && !bundle.open(QIODevice::ReadOnly)) {
        result_.Error = caBundleError(systemReason(errno));
        return false;
    }
    curl_easy_setopt(static_cast<CURL*>(easy), CURLOPT_CAINFO, caBundle.constData());
    return true;
}

bool HTTPTransfer::setup(void* easy)
{
    const HTTPUrl u = SplitUrl(request_.URL);
    if (!u.Valid) {
        result_.Error = QStringLiteral("bad address");
        return false;
    }
    const QByteArray address = TransferAddress(u);
    CURL* h = static_cast<CURL*>(easy);
    curl_easy_setopt(h, CURLOPT_URL, address.constData());
    setProtocol(easy, u.Https);
    setCallbacks(easy);
    setRequestFields(easy);
    if (request_.Compressed)
        curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    addRequestHeaders();
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, owned_->headers.get());
    return setCaBundle(easy, u.Https);
}

TransferResult HTTPTransfer::run()
{
    auto* multi = static_cast<CURLM*>(session_.multi());
    if (terminated_ || !multi) {
        result_.Error = QStringLiteral("aborted");
        return result_;
    }
    if (!prepare())
        return result_;
    CURL* h = static_cast<CURL*>(easy_);
    if (curl_multi_add_handle(multi, h) != CURLM_OK)
        throw std::bad_alloc();
    int active = 1;
    while (!terminated_) {
        if (curl_multi_perform(multi, &active) != CURLM_OK || active == 0)
            break;
        if (!check())
            break;
        curl_multi_poll(multi, nullptr, 0, int(kSampleEvery.count()), nullptr);
    }
    CURLcode code = CURLE_RECV_ERROR;
    int queued = 0;
    while (CURLMsg* m = curl_multi_info_read(multi, &queued))
        if (m->msg == CURLMSG_DONE && m->easy_handle == h)
            code = m->data.result;
    curl_multi_remove_handle(multi, h);
    return complete(code, active == 0);
}

bool HTTPTransfer::check()
{
    const auto at = now();
    // The response headers count as no progress: a server that sends them a line at a time
    // must still finish them in time.
    if (!started_ && headersLate(at))
        late_ = true;
    else if (started_ && stalled(at))
        stall_ = true;
    return !late_ && !stall_;
}

TransferResult HTTPTransfer::complete(int curlCode, bool finished)
{
    if (!result_.Error.isEmpty() || !easy_) {  // prepare refused it
        owned_.reset();
        easy_ = nullptr;
        return result_;
    }
    const auto code = CURLcode(curlCode);
    curl_easy_getinfo(static_cast<CURL*>(easy_), CURLINFO_RESPONSE_CODE, &result_.HttpStatus);
    curl_easy_getinfo(static_cast<CURL*>(easy_), CURLINFO_HTTP_VERSION, &result_.HttpVersion);
    curl_easy_getinfo(static_cast<CURL*>(easy_), CURLINFO_NUM_CONNECTS, &result_.NewConnections);
    result_.CurlResult = code;
    result_.Validator = validator_;

    if (terminated_)
        result_.Error = QStringLiteral("aborted");
    else if (late_)
        result_.Error = QStringLiteral("no response within ") + seconds(request_.StallLimitMs);
    else if (stall_)
        result_.Error = QStringLiteral("stalled for ") + seconds(request_.StallLimitMs);
    else if (!refusal_.isEmpty())
        result_.Error = refusal_;
    else if (!finished || code != CURLE_OK)
        result_.Error = curlError(code);
    else if (!started_ && !begin())  // an empty body: nothing reached the write callback
        result_.Error = refusal_;
    else if (!sink_.finish()) {
        result_.Error = sink_.Error;
        local_ = true;
    }
    owned_.reset();
    easy_ = nullptr;
    if (!result_.Error.isEmpty()) {
        result_.Transient = IsTransient({int(code), result_.HttpStatus, stall_ || late_, result_.StartOver, local_,
                                         bool(terminated_)});
        return result_;
    }

    if (encoded_)  // the decoded length is what arrived
        result_.TotalSize = result_.Bytes;
    if (result_.Bytes > 0 && result_.Bytes == result_.TotalSize)
        chunk(true);
    result_.Succeeded = !terminated_;
    if (terminated_)
        result_.Error = QStringLiteral("aborted");
    return result_;
}

// The final response has begun: accept it only with a 2xx status, a length when BinaryData asks
// for one, and no more than MaxSize announced; only then does the sink open.
bool HTTPTransfer::begin()
{
    long status = 0;
    curl_off_t length = -1;
    curl_easy_getinfo(static_cast<CURL*>(easy_), CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(static_cast<CURL*>(easy_), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    // The announced length is the encoded body's; MaxSize still bounds what is written.
    const bool unknownLength = encoded_ && length >= 0;
    qint64 keep = 0;
    if (status == 206 && request_.RangeFrom > 0) {
        // Only the continuation asked for is any use: from our end to the expected total.
        if (rangeStart_ != request_.RangeFrom || rangeTotal_ != request_.ExpectedSize || length < 0) {
            refusal_ = QStringLiteral("unusable partial answer");
            result_.StartOver = true;
            return false;
        }
        keep = request_.RangeFrom;
        length += keep;
    }
    const bool ranged = !request_.Ranges.isEmpty();
    if (ranged && status != 206) {
        // A whole resource in place of the ranges is not read at all.
        refusal_ = status == 200 ? QStringLiteral("ranges refused (HTTP 200)") : QStringLiteral("HTTP %1").arg(status);
        drainRefused_ = request_.NewerHttp && status != 200;
    } else if (status < 200 || status > 299 || (status == 206 && keep == 0 && !ranged)) {
        refusal_ = QStringLiteral("HTTP %1").arg(status);
        drainRefused_ = request_.NewerHttp;
    }
    else if (length < 0 && request_.BinaryData && !encoded_)  // an encoded body's end is checked as it is decoded
        refusal_ = QStringLiteral("no content length");
    else if (request_.MaxSize > 0 && length > request_.MaxSize)
        refusal_ = QStringLiteral("too long (%1 bytes, at most %2)").arg(length).arg(request_.MaxSize);
    else if (sink_.response(contentType_, contentRange_); !sink_.begin(unknownLength ? -1 : length, keep, validator_)) {
        refusal_ = sink_.Error;
        local_ = true;
    }
    if (!refusal_.isEmpty())
        return false;
    result_.TotalSize = length < 0 || unknownLength ? 0 : qint64(length);
    result_.Bytes = keep;
    result_.Resumed = keep;
    started_ = true;
    samples_.push_back({now(), keep});
    return true;
}

bool HTTPTransfer::receive(const char* data, qint64 size)
{
    if (terminated_)
        return false;
    if (!started_ && (!refusal_.isEmpty() || !begin())) {
        // A short error page is read to its end, so the connection stays usable for the next
        // request; anything else ends the transfer here.
        drained_ += size;
        return drainRefused_ && drained_ <= kDrainLimit;
    }
    qint64 take = size;
    if (request_.MaxSize > 0 && result_.Bytes + size > request_.MaxSize) {
        take = request_.MaxSize + 1 - result_.Bytes;
        refusal_ = QStringLiteral("too long (more than %1 bytes)").arg(request_.MaxSize);
    }
    if (!sink_.write(data, take)) {
        refusal_ = sink_.Error;
        local_ = true;
        return false;
    }
    result_.Bytes += take;
    if (request_.RateLimit)
        pause(request_.RateLimit->take(take));
    if (!refusal_.isEmpty())
        return false;
    chunk(false);
    return !terminated_;
}

void HTTPTransfer::chunk(bool complete)
{
    if (!OnChunk)
        return;
    const auto before = Clock::now();
    OnChunk(result_.TotalSize, result_.Bytes, complete);
    *excludedTime_ += Clock::now() - before;
}

// The response headers must be complete within StallLimitMs of the connection being made.
bool HTTPTransfer::headersLate(Clock::time_point now) const
{
    const auto limit = std::chrono::milliseconds(request_.StallLimitMs);
    if (now - start_ < limit)
        return false;
    curl_off_t connectUs = 0;
    curl_easy_getinfo(static_cast<CURL*>(easy_), CURLINFO_CONNECT_TIME_T, &connectUs);
    return connectUs > 0 && now - start_ - std::chrono::microseconds(connectUs) >= limit;
}

// Stalled: over the last StallLimitMs of body time, fewer bytes than MinBytesPerSecond asks for
// (at least one byte).
bool HTTPTransfer::stalled(Clock::time_point now)
{
    if (samples_.empty() || now - samples_.back().at >= kSampleEvery)
        samples_.push_back({now, result_.Bytes});
    const auto limit = std::chrono::milliseconds(request_.StallLimitMs);
    if (now - samples_.front().at < limit)
        return false;
    // The newest sample at least StallLimitMs old is where the window starts.
    while (firstSample_ + 1 < samples_.size() && now - samples_[firstSample_ + 1].at >= limit)
        ++firstSample_;
    if (firstSample_ > 1024) {
        samples_.erase(samples_.begin(), samples_.begin() + qsizetype(firstSample_));
        firstSample_ = 0;
    }
    const qint64 needed = std::max<qint64>(1, request_.MinBytesPerSecond * request_.StallLimitMs / 1000);
    return result_.Bytes - samples_[firstSample_].bytes < needed;
}

// Waits out the rate limit in short steps, so an abort is still noticed promptly; the time does
// not count toward the stall limit.
void HTTPTransfer::pause(std::chrono::microseconds wait)
{
    const auto before = Clock::now();
    const auto until = before + wait;
    while (!terminated_ && Clock::now() < until)
        std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
    *excludedTime_ += Clock::now() - before;
}

size_t HTTPTransfer::headerCallback(char* data, size_t size, size_t count, void* self)
{
    auto* t = static_cast<HTTPTransfer*>(self);
    const size_t n = size * count;
    const HeaderLine header = ParseHeaderLine(QByteArrayView(data, qsizetype(n)));
    if (header.statusLine) {
        // A new response (after a redirect): nothing of the last one counts.
        t->result_.RetryAfterSeconds = -1;
        t->validator_.clear();
        t->rangeStart_ = t->rangeTotal_ = -1;
        t->contentType_.clear();
        t->contentRange_.clear();
        t->location_.clear();
        t->encoded_ = false;
    } else if (header.name == "content-encoding") {
        // Decoded by curl only where it was offered.
        const QByteArray coding = header.value.trimmed().toLower();
        t->encoded_ = t->request_.Compressed && !coding.isEmpty() && coding != "identity";
    } else if (header.name == "location") {
        t->location_ = header.value.left(2048);
    } else if (header.name == "retry-after") {
        t->result_.RetryAfterSeconds = ParseRetryAfter(header.value).value_or(-1);
    } else if (header.name == "etag") {
        t->validator_ = header.value;
    } else if (header.name == "last-modified" && t->validator_.isEmpty()) {
        t->validator_ = header.value;
    } else if (header.name == "content-type") {
        t->contentType_ = header.value.left(1024);
    } else if (header.name == "content-range") {
        t->contentRange_ = header.value.left(1024);
        const ContentRange range = ParseContentRange(header.value).value_or(ContentRange{});
        t->rangeStart_ = range.start;
        t->rangeTotal_ = range.total;
    }
    return n;
}

size_t HTTPTransfer::writeCallback(char* data, size_t size, size_t count, void* self)
{
    auto* t = static_cast<HTTPTransfer*>(self);
    const size_t n = size * count;
    try {
        return t->receive(data, qint64(n)) ? n : 0;
    } catch (...) {
        t->refusal_ = QStringLiteral("out of memory");
        return 0;
    }
}
