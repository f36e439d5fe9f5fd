#include "Unit1Main.h"

#include "Application.h"
#include "CentreOnScreen.h"
#include "ReportExceptions.h"
#include "ThumbCli.h"
#include "Unit1.h"

QString windowMapArgument(const QStringList& args)
{
    if (!isCommandLineRun(args))
        return QString();  // only Qt's own options: no map
    // From the end, so that the value of a Qt option ("-platform offscreen") is not taken for it.
    for (qsizetype i = args.size() - 1; i >= 1; --i) {
        if (args[i].startsWith(QLatin1Char('-')))
            continue;
        QStringList rest = args;
        rest.removeAt(i);
        if (!isCommandLineRun(rest))
            return args[i];
    }
    return QString();
}

std::unique_ptr<TForm1> createForm1(const QStringList& arguments)
{
    TApplication::setTitle(QStringLiteral("Mapsmith"));
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
