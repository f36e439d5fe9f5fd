// renewel, the Ironvale 3D auto-updater: creates the update window and runs the message loop
// until the window closes or the application is asked to end.

#include "Application.h"
#include "Unit1.h"

#ifdef __SANITIZE_ADDRESS__
// Sanitizer builds only: Chromium inside Qt WebEngine (not built with the sanitizers) frees some
// of its own objects through a base of another size. That mismatch is not ours and would stop
// every run; all other checks stay on.
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }
#endif

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
