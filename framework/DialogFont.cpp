#include "DialogFont.h"

#include <QStringList>

QFont dialogFont(QFont base)
{
    base.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("sans-serif")});
    base.setStyleHint(QFont::SansSerif);
    base.setPixelSize(11);
    return base;
}
