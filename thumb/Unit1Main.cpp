#include "Unit1Main.h"

#include "Application.h"
#include "CentreOnScreen.h"
#include "ReportExceptions.h"
#include "Unit1.h"

#include <QIcon>

// The window's icon, and the names by which docks and task bars match the window to the
// desktop entry ironvale-thumb.desktop: the X11 window class (Qt takes it from the application
// name) and the Wayland app id (the desktop file name).
// (Outside any namespace, which Q_INIT_RESOURCE needs.)
static void identifyWithDesktopEntry()
{
    Q_INIT_RESOURCE(thumbwindow);
    QCoreApplication::setApplicationName(DesktopEntryName);
    QGuiApplication::setDesktopFileName(DesktopEntryName);
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/thumb/icons/%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
}

std::unique_ptr<TForm1> createForm1(const QStringList& arguments)
{
    // The title (of error boxes) stays "Mapsmith" whatever the application name.
    TApplication::setTitle(QStringLiteral("Mapsmith"));
    identifyWithDesktopEntry();
    auto form = std::make_unique<TForm1>();
    form->setObjectName(QStringLiteral("Form1"));
    centreOnScreen(form.get());
    form->show();

    if (!arguments.isEmpty()) {
        // Outside the message loop, so report errors here the way the application does there.
        reportExceptions([&] { form->OpenMap(arguments.first()); });
    }
    return form;
}

int runThumbWindow(const QStringList& arguments)
{
    const std::unique_ptr<TForm1> Form1 = createForm1(arguments);
    return QApplication::exec();
}
