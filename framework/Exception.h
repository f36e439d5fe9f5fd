#pragma once
// The framework's error types. Failures are exceptions; an exception that no handler catches
// reaches the application's general error report (see Application.h), which shows its message.

#include <QByteArray>
#include <QString>
#include <exception>

class Exception : public std::exception {
public:
    explicit Exception(QString message);
    const QString& message() const { return message_; }
    const char* what() const noexcept override { return what_.constData(); }

private:
    QString message_;
    QByteArray what_;
};

// File input/output failure with the runtime's error number (Windows numbering: 2 file not
// found, 3 path not found, 4 too many open files, 5 access denied, 100 read beyond end of file).
class EInOutError : public Exception {
public:
    explicit EInOutError(int errorCode);
    int errorCode() const { return errorCode_; }

private:
    int errorCode_;
};

class EConvertError : public Exception {
public:
    using Exception::Exception;
};

class EDivByZero : public Exception {
public:
    EDivByZero() : Exception(QStringLiteral("Division by zero")) {}
};

// "Cannot create file %s", or "Cannot create file %s: <reason>" when a reason is given.
class EFCreateError : public Exception {
public:
    explicit EFCreateError(const QString& fileName, const QString& reason = QString());
};

// "Stream write error", or "Stream write error: <reason>" when a reason is given.
class EWriteError : public Exception {
public:
    explicit EWriteError(const QString& reason = QString());
};

// The runtime's message for an I/O error number.
QString ioErrorMessage(int errorCode);

// Maps a POSIX errno onto the Windows error numbers that the messages are keyed by
// (ENOENT -> 2, ENOTDIR -> 3, EMFILE/ENFILE -> 4, EACCES/EPERM/EROFS -> 5); others pass through.
int ioErrorFromErrno(int errnum);

// Decimal text to a 64-bit integer the way the framework converts: optional leading blanks and
// sign, digits only, no trailing characters. Throws EConvertError
// "'%s' is not a valid integer value" otherwise.
qint64 StrToInt64(const QByteArray& text);
