#pragma once
// Plain modal message boxes, reached through one seam so that tests can answer them without a
// person. Without a handler installed the real box is shown and the call waits until it closes.

#include <QString>
#include <QStringList>
#include <functional>

enum class BoxIcon { None, Stop, Error, Information };

struct BoxRequest {
    QString caption;
    QString text;
    BoxIcon icon = BoxIcon::None;
    QStringList buttons;  // button captions; "&" marks the mnemonic. Empty means one "OK".
};

// Returns the index of the button that closed the box.
using BoxHandler = std::function<int(const BoxRequest&)>;

// Installs a handler that is called instead of showing a box (nullptr restores the real boxes).
void setMessageBoxHandler(BoxHandler handler);

int showMessageBox(const BoxRequest& request);

// A plain box: the application's title as caption, the text, one OK button.
void showPlainMessage(const QString& text);
