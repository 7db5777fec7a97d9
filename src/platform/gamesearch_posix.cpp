#include "platform/gamesearch.h"

#include <QDir>
#include <QFileInfo>

namespace bramblet::platform {

namespace {

// The Wine prefixes in `folder`'s subfolders (`below` appended to each), by name.
QStringList prefixesIn(const QString &folder, const QString &below = {})
{
    QStringList out;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        out << dir.filePath(name) + below;
    return out;
}

} // namespace

QStringList gameSearchPlaces(const QString &home)
{
    const QString h = home + QLatin1Char('/');
    QStringList prefixes;
    const QString winePrefix = qEnvironmentVariable("WINEPREFIX");
    if (!winePrefix.isEmpty())
        prefixes << winePrefix;
    prefixes << h + QStringLiteral(".wine");
    // Lutris installs each game in a prefix of its own under ~/Games, Heroic under
    // ~/Games/Heroic/Prefixes; then Bottles (native and Flatpak), PlayOnLinux, winetricks
    // and Steam's Proton prefixes.
    for (const QString &parent : {QStringLiteral("Games"), QStringLiteral("Games/Heroic/Prefixes"),
                                  QStringLiteral("Games/Heroic/Prefixes/default"),
                                  QStringLiteral(".local/share/bottles/bottles"),
                                  QStringLiteral(".var/app/com.usebottles.bottles/data/bottles/bottles"),
                                  QStringLiteral(".PlayOnLinux/wineprefix"), QStringLiteral(".local/share/wineprefixes")})
        prefixes << prefixesIn(h + parent);
    for (const QString &steam : {QStringLiteral(".steam/steam"), QStringLiteral(".local/share/Steam"),
                                 QStringLiteral(".var/app/com.valvesoftware.Steam/.local/share/Steam")})
        prefixes << prefixesIn(h + steam + QStringLiteral("/steamapps/compatdata"), QStringLiteral("/pfx"));

    QStringList places;
    QStringList seen;
    for (const QString &prefix : prefixes) {
        const QFileInfo driveC(prefix + QStringLiteral("/drive_c"));
        const QString real = driveC.canonicalFilePath();
        if (!driveC.isDir() || seen.contains(real))
            continue;
        seen << real;
        places << driveC.absoluteFilePath();
    }
    // Heroic and Lutris keep games that need no prefix of their own in the game folders.
    for (const QString &games : {QStringLiteral("Games/Heroic"), QStringLiteral("Games")})
        if (QFileInfo(h + games).isDir())
            places << h + games;
    return places;
}

} // namespace bramblet::platform
