#include "HTTPGetThread.h"

#include <QMetaObject>

#include <curl/curl.h>

namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(20);
constexpr long kMaxRedirects = 10;
constexpr long kBufferSize = 256 * 1024;

// Escapes the bytes that may not appear raw in a URL path; "%" stays, so escaped paths pass.
QByteArray escapePath(const QByteArray& path)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(path.size());
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || QByteArray("\"<>\\^`{|}").contains(ch)) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};

}  // namespace

THTTPGetThread::THTTPGetThread(const QByteArray& AcceptTypes, const QByteArray& Agent,
                               const QString& URL, const QString& FileName,
                               const QByteArray& UserName, const QByteArray& Password,
                               const QByteArray& PostQuery, const QByteArray& Referer,
                               bool BinaryData, bool UseCache, TOnProgressEvent OnProgress,
                               bool ToFile)
    : AcceptTypes(AcceptTypes), Agent(Agent), URL(URL), FileName(FileName), UserName(UserName),
      Password(Password), PostQuery(PostQuery), Referer(Referer), BinaryData(BinaryData),
      UseCache(UseCache), ToFile(ToFile), OnProgress(std::move(OnProgress))
{
    multi_ = curl_multi_init();
}

THTTPGetThread::~THTTPGetThread()
{
    wait();
    if (multi_)
        curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

void THTTPGetThread::Start(THTTPGet* owner)
{
    {
        std::lock_guard lock(mutex_);
        owner_ = owner;
    }
    start();
}

void THTTPGetThread::Terminate()
{
    terminated_ = true;
    Succeeded = false;
    if (multi_)
        curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

void THTTPGetThread::Detach()
{
    {
        std::lock_guard lock(mutex_);
        owner_ = nullptr;
        detached_ = true;
    }
    called_.notify_all();
}

THTTPUrl THTTPGetThread::SplitUrl(const QString& URL)
{
    THTTPUrl u;
    QString rest = URL;
    if (rest.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)) {
        rest.remove(0, 7);
    } else if (rest.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        rest.remove(0, 8);
        u.Https = true;
        u.Port = 443;
    }
    const qsizetype slash = rest.indexOf('/');
    if (slash < 0) {
        u.ObjectPath = rest;
        return u;  // no host
    }
    QString host = rest.left(slash);
    u.ObjectPath = rest.mid(slash);
    // A port follows the last ":" that is not inside an IPv6 "[...]" literal.
    const qsizetype colon = host.lastIndexOf(':');
    if (colon >= 0 && colon > host.lastIndexOf(']')) {
        bool ok = false;
        const uint port = host.mid(colon + 1).toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return u;
        u.Port = quint16(port);
        host.truncate(colon);
    }
    u.HostName = host;
    u.Valid = !host.isEmpty();
    return u;
}

void THTTPGetThread::run()
{
    try {
        Execute();
    } catch (...) {
        Succeeded = false;
    }
    if (file_.isOpen())
        file_.close();
    if (terminated_)
        Succeeded = false;
    PostDone();
}

void THTTPGetThread::PostDone()
{
    std::lock_guard lock(mutex_);
    if (!owner_)
        return;
    // Queued on the component: if it is destroyed before this runs, Qt drops the call.
    THTTPGet* owner = owner_;
    QMetaObject::invokeMethod(owner, [owner] { owner->DoneThread(); }, Qt::QueuedConnection);
}

void THTTPGetThread::Execute()
{
    Succeeded = false;
    const THTTPUrl u = SplitUrl(URL);
    if (terminated_ || !u.Valid || !multi_)
        return;

    QByteArray address = (u.Https ? "https://" : "http://") + u.HostName.toUtf8();
    if (u.Port != (u.Https ? 443 : 80))
        address += ':' + QByteArray::number(u.Port);
    address += escapePath(u.ObjectPath.toUtf8());

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy)
        return;
    CURL* h = easy.get();
    easy_ = h;
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    auto addHeader = [&](const QByteArray& line) {
        curl_slist* l = curl_slist_append(headers.get(), line.constData());
        if (!l)
            throw std::bad_alloc();
        headers.release();
        headers.reset(l);
    };
    addHeader(AcceptTypes.isEmpty() ? QByteArray("Accept:") : "Accept: " + AcceptTypes);
    if (!UseCache) {
        addHeader("Cache-Control: no-cache");
        addHeader("Pragma: no-cache");
    }

    curl_easy_setopt(h, CURLOPT_URL, address.constData());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(ConnectTimeoutMs));
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kBufferSize);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &THTTPGetThread::WriteCallback);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &THTTPGetThread::HeaderCallback);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
    if (!Agent.isEmpty())
        curl_easy_setopt(h, CURLOPT_USERAGENT, Agent.constData());
    if (!Referer.isEmpty())
        curl_easy_setopt(h, CURLOPT_REFERER, Referer.constData());
    if (!UserName.isEmpty() || !Password.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, UserName.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, Password.constData());
    }
    if (!PostQuery.isEmpty()) {
        addHeader("Content-Type: application/x-www-form-urlencoded");
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(PostQuery.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, PostQuery.constData());
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    const QByteArray caBundle = qgetenv("RENEWEL_CA_BUNDLE");
    if (!caBundle.isEmpty())
        curl_easy_setopt(h, CURLOPT_CAINFO, caBundle.constData());

    auto* multi = static_cast<CURLM*>(multi_);
    if (curl_multi_add_handle(multi, h) != CURLM_OK)
        return;
    lastActivity_ = Clock::now();
    bool stalled = false;
    int active = 1;
    while (!terminated_) {
        if (curl_multi_perform(multi, &active) != CURLM_OK || active == 0)
            break;
        MaybeProgress(false);
        const auto idle = Clock::now() - lastActivity_;
        if (idle >= std::chrono::milliseconds(StallLimitMs)) {
            stalled = true;
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::milliseconds(StallLimitMs) - idle);
        curl_multi_poll(multi, nullptr, 0, int(std::min<qint64>(left.count() + 1, 1000)), nullptr);
    }
    CURLcode result = CURLE_RECV_ERROR;
    int queued = 0;
    while (CURLMsg* m = curl_multi_info_read(multi, &queued))
        if (m->msg == CURLMSG_DONE && m->easy_handle == h)
            result = m->data.result;
    curl_multi_remove_handle(multi, h);
    easy_ = nullptr;

    if (terminated_ || stalled || failed_ || active != 0 || result != CURLE_OK)
        return;
    if (!started_ && !BeginBody(h))  // an empty body: nothing reached the write callback
        return;
    if (ToFile) {
        if (!file_.flush())
            return;
        file_.close();
        if (file_.error() != QFileDevice::NoError)
            return;
    }
    const bool complete = ToFile ? TotalSize == Readed : Readed != 0;
    if (complete && Readed > 0)
        MaybeProgress(true);
    Succeeded = complete && !terminated_;
}

// The final response has begun: accept it only with a 2xx status, and with a length when
// BinaryData asks for one; only then is the file created (or replaced).
bool THTTPGetThread::BeginBody(void* curl)
{
    long status = 0;
    curl_off_t length = -1;
    curl_easy_getinfo(static_cast<CURL*>(curl), CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(static_cast<CURL*>(curl), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (status < 200 || status > 299 || (length < 0 && BinaryData)) {
        failed_ = true;
        return false;
    }
    TotalSize = length < 0 ? 0 : qint64(length);
    if (ToFile) {
        file_.setFileName(FileName);
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            failed_ = true;
            return false;
        }
    }
    started_ = true;
    return true;
}

bool THTTPGetThread::Receive(const char* data, qint64 size)
{
    lastActivity_ = Clock::now();
    if (terminated_ || (!started_ && !BeginBody(easy_)))
        return false;
    if (ToFile) {
        if (file_.write(data, size) != size) {
            failed_ = true;
            return false;
        }
    } else {
        ResultText.append(data, size);
    }
    Readed += size;
    MaybeProgress(false);
    return !terminated_;
}

size_t THTTPGetThread::WriteCallback(char* data, size_t size, size_t count, void* self)
{
    auto* t = static_cast<THTTPGetThread*>(self);
    const size_t n = size * count;
    try {
        return t->Receive(data, qint64(n)) ? n : 0;
    } catch (...) {
        t->failed_ = true;
        return 0;
    }
}

size_t THTTPGetThread::HeaderCallback(char*, size_t size, size_t count, void* self)
{
    static_cast<THTTPGetThread*>(self)->lastActivity_ = Clock::now();
    return size * count;
}

void THTTPGetThread::MaybeProgress(bool force)
{
    if (!OnProgress || !started_ || Readed == reported_)
        return;
    const auto now = Clock::now();
    if (!force && reported_ >= 0 && now - lastProgress_ < kProgressInterval)
        return;
    reported_ = Readed;
    SyncProgress();
    // Time spent waiting for the main thread is not silence from the server.
    lastProgress_ = lastActivity_ = Clock::now();
}

// Runs OnProgress on the main thread and waits for it, unless the component lets go first.
void THTTPGetThread::SyncProgress()
{
    struct Call {
        bool done = false;
    };
    auto call = std::make_shared<Call>();
    std::unique_lock lock(mutex_);
    if (!owner_)
        return;
    auto self = shared_from_this();
    const qint64 total = TotalSize, readed = Readed;
    QMetaObject::invokeMethod(
        owner_,
        [self, call, total, readed] {
            // Mark the call done however the handler leaves, so the worker never waits forever.
            struct Done {
                THTTPGetThread* t;
                Call* c;
                ~Done()
                {
                    {
                        std::lock_guard l(t->mutex_);
                        c->done = true;
                    }
                    t->called_.notify_all();
                }
            } done{self.get(), call.get()};
            self->OnProgress(self.get(), total, readed);
        },
        Qt::QueuedConnection);
    called_.wait(lock, [&] { return call->done || detached_; });
}
