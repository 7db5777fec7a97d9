#include "app/MessageService.h"

#include <QFile>
#include <QMessageBox>
#include <QStringList>

namespace bramblet {

QString messageIconName(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::None:
        return QStringLiteral("none");
    case MessageIcon::Information:
        return QStringLiteral("information");
    case MessageIcon::Warning:
        return QStringLiteral("warning");
    case MessageIcon::Error:
        return QStringLiteral("error");
    }
    return QStringLiteral("none");
}

bool appendUiLog(const QString &kind, const QStringList &fields)
{
    const QString path = qEnvironmentVariable("BRAMBLET_UI_LOG");
    if (path.isEmpty())
        return false;
    QStringList escaped;
    escaped << kind;
    for (QString f : fields) {
        f.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        f.replace(QStringLiteral("\r\n"), QStringLiteral("\\n"));
        f.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        f.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
        escaped << f;
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write(escaped.join(QLatin1Char('\t')).toUtf8() + '\n');
        file.flush();
    }
    return true;
}

void QtMessageService::show(QWidget *owner, const QString &text, const QString &caption, MessageIcon icon)
{
    if (appendUiLog(QStringLiteral("box"), {caption, messageIconName(icon), text}))
        return;
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    switch (icon) {
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.exec();
}

} // namespace bramblet
