#include "app/Translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringConverter>
#include <QTranslator>

namespace bramblet {

QString translationFor(const QStringList &uiLanguages)
{
    for (const QString &name : uiLanguages) {
        const QString language = name.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0).toLower();
        if (language == QLatin1String("zh") || language == QLatin1String("c") || language == QLatin1String("posix"))
            return {};
        if (language == QLatin1String("it"))
            return QStringLiteral("it");
        if (language == QLatin1String("en"))
            return QStringLiteral("en");
    }
    return QStringLiteral("en");
}

QString installTranslation(QCoreApplication &app, const QString &folder)
{
    const QLocale system = QLocale::system();
    // As gettext does: the plain C locale ignores a LANGUAGE list and keeps the source texts.
    const QString suffix = system.language() == QLocale::C ? QString() : translationFor(system.uiLanguages());
    if (suffix.isEmpty())
        return {};
    auto *own = new QTranslator(&app);
    if (!own->load(QStringLiteral("bramblet_") + suffix, folder + QStringLiteral("translations"))) {
        delete own;
        return {};
    }
    app.installTranslator(own);
    // Qt's own words in its dialogs (the buttons of a box), where Debian's Qt translations are
    // installed; without them the buttons stay English.
    auto *qt = new QTranslator(&app);
    if (qt->load(QStringLiteral("qtbase_") + suffix, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(qt);
    else
        delete qt;
    return suffix;
}

texts::Translator qtTranslator()
{
    return [](const char *context, const char *source) {
        return QCoreApplication::translate(context, source).toStdString();
    };
}

QString translated(const char *context, const std::string &source)
{
    return QCoreApplication::translate(context, source.c_str());
}

QString translatedAdvice(const router::Advice &advice)
{
    const auto say = [](const char *source, const std::vector<std::string> &values) {
        return texts::fill(QCoreApplication::translate("RouterAdvice", source).toStdString(), values);
    };
    std::vector<std::string> args;
    for (const router::AdviceArg &arg : advice.args)
        args.push_back(arg.source ? say(arg.source, arg.values) : arg.text);
    return QString::fromStdString(say(advice.source, args));
}

QByteArray trayEncoding()
{
    //: The code page of this language whose bytes the tray's text limits count: an encoding
    //: name Qt knows (windows-1252 for Western European languages).
    const QString name = QCoreApplication::translate("TrayIcon", "GB2312");
    const QByteArray encoding = name.toLatin1();
    // A name this Qt does not know counts in UTF-8, whose cut also falls on characters.
    return QStringEncoder(encoding.constData()).isValid() ? encoding : QByteArrayLiteral("UTF-8");
}

} // namespace bramblet
