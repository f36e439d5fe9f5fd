#pragma once
// The bytes a page text is shown as: every line (split at CR LF, lone CR, lone LF) followed by
// CR LF; an empty text gives no bytes.

#include <QByteArray>

QByteArray HtmlCrLfLines(const QByteArray& html);
