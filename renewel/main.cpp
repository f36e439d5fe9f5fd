#include "Application.h"

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TApplication::setTitle(QStringLiteral("Ironvale 3D Update"));
    return 0;
}
