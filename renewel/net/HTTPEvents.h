#pragma once
// The download component's event types: bound handlers with the sender first.

#include <QByteArray>
#include <QString>

#include <functional>

class QObject;

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TOnProgressEvent = std::function<void(QObject* Sender, qint64 TotalSize, qint64 Readed)>;
using TOnDoneFileEvent = std::function<void(QObject* Sender, const QString& FileName, qint64 FileSize)>;
using TOnDoneStringEvent = std::function<void(QObject* Sender, const QByteArray& Result)>;
