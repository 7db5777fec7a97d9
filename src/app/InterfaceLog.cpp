#include "app/InterfaceLog.h"

#include <QFile>
#include <QFileInfo>

namespace bramblet {

namespace {

class NoInterfaceLog : public IInterfaceLog {
public:
    void write(const QString &, const QStringList &) override {}
};

} // namespace

IInterfaceLog &noInterfaceLog()
{
    static NoInterfaceLog log;
    return log;
}

void FileInterfaceLog::write(const QString &kind, const QStringList &fields)
{
    QStringList escaped;
    escaped << kind;
    for (QString f : fields) {
        f.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        f.replace(QStringLiteral("\r\n"), QStringLiteral("\\n"));
        f.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        f.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
        escaped << f;
    }
    QFile file(path_);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write(escaped.join(QLatin1Char('\t')).toUtf8() + '\n');
        file.flush();
    }
}

void LoggedMessageService::show(QWidget *, const QString &text, const QString &caption, MessageIcon icon)
{
    log_.write(QStringLiteral("box"), {caption, messageIconName(icon), text});
}

bool LoggedMessageService::ask(QWidget *, const QString &text, const QString &caption)
{
    log_.write(QStringLiteral("question"), {caption, text});
    return false;
}

std::optional<QString> LoggedFileDialog::openFile(QWidget *, const QString &title, const QString &filter,
                                                  const QString &folder)
{
    log_.write(QStringLiteral("filedialog"), {title, filter, folder});
    return std::nullopt;
}

bool LoggedShell::openDocument(const QString &path)
{
    if (!QFileInfo(path).isFile()) {
        log_.write(QStringLiteral("open-failed"), {path});
        return false;
    }
    log_.write(QStringLiteral("open"), {path});
    return true;
}

} // namespace bramblet
