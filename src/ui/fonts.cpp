#include "ui/fonts.h"

#include <QStringList>

QFont DesignFont()
{
    QFont f;
    f.setFamilies(QStringList{QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Arial")});
    f.setPixelSize(10);
    return f;
}

QFont StatusFont()
{
    QFont f;
    f.setFamilies(QStringList{QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial Narrow"),
                              QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    f.setPixelSize(11);
    return f;
}
