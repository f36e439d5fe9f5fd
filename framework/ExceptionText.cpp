#include "ExceptionText.h"

#include "Exception.h"

#include <exception>

QString currentExceptionMessage()
{
    try {
        throw;
    } catch (const Exception& e) {
        return e.message();
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}
