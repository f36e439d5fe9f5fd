#pragma once
// What one download asks for, passed by value from the component to its worker: the request's
// shape (address, headers, verb) and the limits that end it as failed.

#include <QByteArray>
#include <QString>

#include <memory>

class RateLimiter;

// What a download asks for and the limits that end it as failed: the download component's
// settings, copied whole into each request it makes.
struct HTTPSettings {
    QByteArray AcceptTypes = "*/*";
    QByteArray Agent = "Quillnet HTTPGet";  // empty: no agent
    QString URL;                            // "http://host[:port]/path" or "https://..."
    QByteArray UserName;
    QByteArray Password;
    QByteArray PostQuery;                   // empty: GET; otherwise a form-encoded POST body
    QByteArray Referer;
    bool BinaryData = false;                // a response without a content length fails
    bool UseCache = false;                  // false: every request bypasses caches
    // false: HTTP/1.0, as the component has always asked. true: HTTP/2 where the server offers it
    // over TLS, else HTTP/1.1 (the update run's transfer engine).
    bool NewerHttp = false;
    // Ask only for a version other than this one (an ETag, else a Last-Modified date): the
    // server's 304 then ends the transfer as failed with that status. Empty: asked for whole.
    QByteArray Validator;
    // Offer gzip and deflate; the body is handed on decoded, its length then unknown up front.
    bool Compressed = false;

    qint64 ConnectTimeoutMs = 30000;  // connecting to the server
    qint64 StallLimitMs = 60000;      // headers after connecting; a body below 100 bytes/s over this long
    qint64 MaxSize = 0;               // a longer body fails (cut after MaxSize + 1 bytes); 0: none
    bool HashBody = false;            // compute the body's SHA-256 while it is written
    bool SyncToDisk = false;          // flush the finished file to disk before it counts as done
    std::shared_ptr<RateLimiter> RateLimit;  // a budget shared with other downloads; null: none
    // The file's full size when known: a partial file left by an earlier try is then continued
    // where it ends. -1: always start over.
    qint64 ExpectedSize = -1;
};

// One download as the worker runs it: the settings, and how a partial file is continued.
struct HTTPRequest : HTTPSettings {
    qint64 MinBytesPerSecond = 100;
    // Continue a partial file: ask for the bytes from RangeFrom on, if the server's version still
    // matches IfRange (an ETag or Last-Modified); only a 206 that starts there and whose total is
    // ExpectedSize continues the file, any other answer starts it over.
    qint64 RangeFrom = 0;
    QByteArray IfRange;
    // Ask only for these byte ranges ("0-99,200-299"): only a 206 is taken; a 200 (the server
    // sends the whole resource instead) ends the transfer at once, as does any other status.
    QByteArray Ranges;
};

// The parts of a download address.
struct HTTPUrl {
    bool Https = false;
    QString HostName;    // without the port
    quint16 Port = 80;   // 80 (443 for https) unless the address names one
    QString ObjectPath;  // from the first "/" after the host, included
    bool Valid = false;  // a host name and a usable port
};

// "http://" (any case) or "https://" prefix, host up to the first "/", optional ":port", object
// path from that "/". Without a "/" the host is empty and the path is the rest.
HTTPUrl SplitUrl(const QString& URL);

// The address libcurl is given: scheme, host, port when not the default, and the object path
// with the bytes that may not appear raw in a URL escaped ("%" stays, so escaped paths pass).
QByteArray TransferAddress(const HTTPUrl& u);
