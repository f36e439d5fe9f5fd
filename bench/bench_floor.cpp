// The start-up floor for thumb's command line: a bare Qt program that does nothing but create
// its core application object. Built twice: against Qt Core alone, and against Qt Core and Gui
// (the libraries every Qt image tool loads; the null image only keeps the link to Gui).

#include <QCoreApplication>
#ifdef IV_FLOOR_LINKS_GUI
#include <QImage>
#endif

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
#ifdef IV_FLOOR_LINKS_GUI
    return QImage().isNull() ? 0 : 1;
#else
    return 0;
#endif
}
