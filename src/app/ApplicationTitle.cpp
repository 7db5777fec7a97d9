#include "app/ApplicationTitle.h"

namespace bramblet {

namespace {
QString &title()
{
    static QString t = QString::fromLatin1(kApplicationTitle);
    return t;
}
} // namespace

QString applicationTitle() { return title(); }
void setApplicationTitle(const QString &t) { title() = t; }

} // namespace bramblet
