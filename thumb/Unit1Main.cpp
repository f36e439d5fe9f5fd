#include "Unit1Main.h"

#include "Application.h"
#include "Exception.h"
#include "Unit1.h"

#include <QGuiApplication>
#include <QScreen>

std::unique_ptr<TForm1> createForm1(const QStringList& arguments)
{
    TApplication::setTitle(QStringLiteral("Mapsmith"));
    auto form = std::make_unique<TForm1>();
    form->setObjectName(QStringLiteral("Form1"));
    if (QScreen* screen = QGuiApplication::primaryScreen())
        form->move(screen->availableGeometry().center() - form->rect().center());
    form->show();

    if (!arguments.isEmpty()) {
        // Outside the message loop, so report errors here the way the application does there.
        try {
            form->OpenMap(arguments.first());
        } catch (const Exception& e) {
            TApplication::ShowException(e.message());
        } catch (const std::exception& e) {
            TApplication::ShowException(QString::fromLocal8Bit(e.what()));
        }
    }
    return form;
}

int runThumbWindow(const QStringList& arguments)
{
    const std::unique_ptr<TForm1> Form1 = createForm1(arguments);
    return QApplication::exec();
}
