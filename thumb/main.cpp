#include "Application.h"

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TApplication::setTitle(QStringLiteral("Mapsmith"));
    return 0;
}
