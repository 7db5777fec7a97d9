#pragma once

#include <QFont>
#include <QString>

namespace bramblet {

// The windows give their fonts by family and pixel height; where the family is missing the
// desktop's sans-serif stands in.
inline QFont pixelFont(const QString &family, int pixelSize)
{
    QFont f(family);
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelSize);
    return f;
}

} // namespace bramblet
