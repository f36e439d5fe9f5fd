// The start-up floor for renewel's window: a bare Qt Widgets program that shows one window and
// ends as soon as its main loop runs.

#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(482, 513);
    window.show();
    QTimer::singleShot(0, &app, &QApplication::quit);
    return app.exec();
}
