#pragma once
// Text for an error line: valid UTF-8 passes unchanged, control characters become \r, \n, \t or
// \xHH (\uHHHH above ASCII), and bytes that are not UTF-8 become \xHH. The line then stays one
// line and still names the exact bytes of a file name. Escaping is idempotent, so a reason that
// already holds an escaped name may be escaped again.

#include <QByteArray>
#include <QByteArrayView>

QByteArray shownText(QByteArrayView bytes);
