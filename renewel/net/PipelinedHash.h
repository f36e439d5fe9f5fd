#pragma once
// SHA-256 of a stream computed on a thread of its own, so that hashing a download overlaps with
// receiving and writing it instead of adding to its time. Update copies the bytes and returns at
// once (it waits only while 16 MiB are still unhashed); Final waits for the digest.

#include "trust/Sha256.h"

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

class TPipelinedHash {
public:
    TPipelinedHash();
    ~TPipelinedHash();
    TPipelinedHash(const TPipelinedHash&) = delete;
    TPipelinedHash& operator=(const TPipelinedHash&) = delete;

    void Update(const char* data, qint64 size);
    // The 32-byte digest of everything given to Update; call once.
    QByteArray Final();

private:
    void work();

    Sha256 hash_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<QByteArray> pending_;
    qint64 pendingBytes_ = 0;
    bool closing_ = false;
    bool idle_ = true;
    std::thread thread_;
};
