#include "Exception.h"

#include <cerrno>
#include <limits>

Exception::Exception(QString message) : message_(std::move(message)), what_(message_.toUtf8()) {}

EInOutError::EInOutError(int errorCode) : Exception(ioErrorMessage(errorCode)), errorCode_(errorCode) {}

EFCreateError::EFCreateError(const QString& fileName, const QString& reason)
    : Exception(reason.isEmpty() ? QStringLiteral("Cannot create file %1").arg(fileName)
                                 : QStringLiteral("Cannot create file %1: %2").arg(fileName, reason)) {}

EWriteError::EWriteError(const QString& reason)
    : Exception(reason.isEmpty() ? QStringLiteral("Stream write error")
                                 : QStringLiteral("Stream write error: %1").arg(reason)) {}

QString ioErrorMessage(int errorCode)
{
    switch (errorCode) {
    case 2: return QStringLiteral("File not found");
    case 3: return QStringLiteral("Invalid filename");
    case 4: return QStringLiteral("Too many open files");
    case 5: return QStringLiteral("File access denied");
    case 100: return QStringLiteral("Read beyond end of file");
    default: return QStringLiteral("I/O error %1").arg(errorCode);
    }
}

int ioErrorFromErrno(int errnum)
{
    switch (errnum) {
    case ENOENT: return 2;
    case ENOTDIR: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM:
    case EROFS: return 5;
    default: return errnum;
    }
}

qint64 StrToInt64(const QByteArray& text)
{
    auto fail = [&text]() -> qint64 {
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1(text)));
    };
    int i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i >= text.size())
        return fail();
    quint64 value = 0;
    const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1
                                   : quint64(std::numeric_limits<qint64>::max());
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return fail();
        const quint64 digit = quint64(c - '0');
        if (value > (limit - digit) / 10)
            return fail();
        value = value * 10 + digit;
    }
    return negative ? qint64(0 - value) : qint64(value);
}
