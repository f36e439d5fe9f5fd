#include "MessageBox.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
BoxHandler& handlerSlot()
{
    static BoxHandler handler;
    return handler;
}

QMessageBox::Icon toQtIcon(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::Stop:
    case BoxIcon::Error: return QMessageBox::Critical;
    case BoxIcon::Information: return QMessageBox::Information;
    case BoxIcon::None: break;
    }
    return QMessageBox::NoIcon;
}
}  // namespace

void setMessageBoxHandler(BoxHandler handler) { handlerSlot() = std::move(handler); }

int showMessageBox(const BoxRequest& request)
{
    if (handlerSlot())
        return handlerSlot()(request);
    QMessageBox box(toQtIcon(request.icon), request.caption, request.text);
    const QStringList buttons = request.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : request.buttons;
    QList<QAbstractButton*> made;
    for (const QString& caption : buttons)
        made << box.addButton(caption, QMessageBox::AcceptRole);
    box.exec();
    const int index = int(made.indexOf(box.clickedButton()));
    return index < 0 ? 0 : index;
}

void showPlainMessage(const QString& text)
{
    BoxRequest request;
    request.caption = QGuiApplication::applicationDisplayName();  // the application's title
    request.text = text;
    showMessageBox(request);
}
