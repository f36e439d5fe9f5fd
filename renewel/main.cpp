// renewel, the Ironvale 3D auto-updater: creates the update window and runs the message loop
// until the window closes or the application is asked to end.

#include "Application.h"
#include "Unit1.h"

int main(int argc, char** argv)
{
    // The embedded browser shares its GL contexts with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TApplication app(argc, argv);
    TApplication::setTitle(QStringLiteral("Ironvale 3D Update"));
    TUpdateDlg window;  // sets UpdateDlg, then runs FormCreate
    window.show();
    return app.exec();
}
