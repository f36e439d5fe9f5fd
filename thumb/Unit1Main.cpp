#include "Unit1Main.h"

#include "Application.h"
#include "CentreOnScreen.h"
#include "ReportExceptions.h"
#include "Unit1.h"

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
