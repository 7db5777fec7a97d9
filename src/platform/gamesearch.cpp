#include "platform/gamesearch.h"

#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace bramblet::platform {

namespace fs = std::filesystem;

QString findFileUnder(const QString &folder, const QString &fileName, int maxDepth,
                      std::chrono::steady_clock::time_point deadline)
{
    std::error_code ec;
    // Links are not followed: a prefix links to the whole file system (dosdevices) and to the
    // player's own folders, which are not where a game installs.
    fs::recursive_directory_iterator it(fs::path(folder.toStdString()), fs::directory_options::skip_permission_denied,
                                        ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        if (std::chrono::steady_clock::now() > deadline)
            return {};
        if (it.depth() >= maxDepth)
            it.disable_recursion_pending();
        const fs::path &path = it->path();
        if (QString::fromStdString(path.filename().string()).compare(fileName, Qt::CaseInsensitive) == 0 &&
            it->is_regular_file(ec))
            return QString::fromStdString(path.string());
    }
    return {};
}

QString gameChooserFolder(const QString &home, std::chrono::milliseconds budget)
{
    const auto deadline = std::chrono::steady_clock::now() + budget;
    const QStringList places = gameSearchPlaces(home);
    for (const QString &place : places) {
        const QString found = findFileUnder(place, QStringLiteral("PES2008.exe"), 6, deadline);
        if (!found.isEmpty())
            return QFileInfo(found).absolutePath();
    }
    for (const QString &place : places)
        if (place.endsWith(QStringLiteral("/drive_c")))
            return place;
    return home;
}

} // namespace bramblet::platform
