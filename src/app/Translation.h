#pragma once
// The language the player reads: chosen once at start from the desktop's preferred
// languages, and the bridge that lets core's texts be shown in it.

#include "core/router.h"
#include "core/texts.h"

#include <QString>
#include <QStringList>

class QCoreApplication;

namespace bramblet {

// The suffix of the translation to load ("en", "it"), or empty for the source texts: Chinese
// and the plain C/POSIX locale keep them. The first preferred language that the program
// speaks wins; a desktop that prefers none of them gets English.
QString translationFor(const QStringList &uiLanguages);

// Loads `folder`/translations/bramblet_<suffix>.qm for the system locale into `app` (and
// Qt's own texts of that language where Qt has them). Returns the suffix loaded, empty for
// the source texts or when the file is missing.
QString installTranslation(QCoreApplication &app, const QString &folder);

// A core text in the installed language.
texts::Translator qtTranslator();
QString translated(const char *context, const std::string &source);

// A router advice in the installed language: its sentence and its phrases translated, the
// plain values as they are; the source text itself where there is no translation.
QString translatedAdvice(const router::Advice &advice);

// The code page whose bytes the tray's limits count in for the installed language; GB2312 for
// the source texts.
QByteArray trayEncoding();

} // namespace bramblet
