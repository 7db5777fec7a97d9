#include "platform/gamesettings.h"

#include "core/address.h"

#include <QFileInfo>
#include <QSettings>

namespace bramblet::platform {

namespace {
const QString kInstallDir = QStringLiteral("installdir");
const QString kRecentPeers = QStringLiteral("recentpeers");
constexpr int kRecentPeerCount = 5;

std::unique_ptr<QSettings> store(const QString &file, QSettings::Scope scope)
{
    if (!file.isEmpty())
        return std::make_unique<QSettings>(file, QSettings::IniFormat);
    auto s = std::make_unique<QSettings>(QSettings::NativeFormat, scope, QStringLiteral("Bramblet"),
                                         QStringLiteral("Bramblet"));
    // The player's file alone: a machine-wide value seen through it could not be removed,
    // and a stale one would be read again after every removal.
    s->setFallbacksEnabled(false);
    return s;
}

// Only a dotted quad that the link start would take again is offered.
bool plausiblePeer(const QString &text)
{
    const std::string cleaned = address::cleanTypedAddress(text.toStdString());
    return !cleaned.empty() && cleaned == text.toStdString() && address::isDottedQuad(cleaned);
}
} // namespace

GameSettings::GameSettings(const QString &fileOverride, const QString &systemFileOverride)
    : fileOverride_(fileOverride), systemFileOverride_(systemFileOverride)
{
}

GameSettings::~GameSettings() = default;

std::unique_ptr<QSettings> GameSettings::userStore() const { return store(fileOverride_, QSettings::UserScope); }

bool GameSettings::open()
{
    settings_ = userStore();
    // "Full access": a store we could read but never write would ask the player in vain.
    settings_->sync();
    if (!settings_->isWritable() || settings_->status() != QSettings::NoError) {
        settings_.reset();
        return false;
    }
    // A store named by a test has no machine-wide one beside it unless the test names that too.
    const bool hasSystemStore = fileOverride_.isEmpty() || !systemFileOverride_.isEmpty();
    if (hasSystemStore && !settings_->contains(kInstallDir)) {
        // Earlier versions kept the path machine-wide; the player need not choose it again.
        const auto system = store(systemFileOverride_, QSettings::SystemScope);
        const QString earlier = system->value(kInstallDir).toString();
        if (!earlier.isEmpty())
            setInstallDir(earlier);
    }
    return true;
}

bool GameSettings::hasInstallDir() const { return settings_ && settings_->contains(kInstallDir); }

QString GameSettings::installDir() const
{
    return settings_ ? settings_->value(kInstallDir).toString() : QString();
}

bool GameSettings::setInstallDir(const QString &path)
{
    if (!settings_)
        return false;
    settings_->setValue(kInstallDir, path);
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

void GameSettings::removeInstallDir()
{
    if (!settings_)
        return;
    settings_->remove(kInstallDir);
    settings_->sync();
}

void GameSettings::close() { settings_.reset(); }

QString GameSettings::location() const { return settings_ ? settings_->fileName() : fileOverride_; }

QStringList GameSettings::recentPeers()
{
    const auto s = userStore();
    QStringList out;
    for (const QString &peer : s->value(kRecentPeers).toStringList())
        if (plausiblePeer(peer) && !out.contains(peer) && out.size() < kRecentPeerCount)
            out << peer;
    return out;
}

void GameSettings::rememberPeer(const QString &address)
{
    if (!plausiblePeer(address))
        return;
    QStringList peers = recentPeers();
    peers.removeAll(address);
    peers.prepend(address);
    const auto s = userStore();
    s->setValue(kRecentPeers, peers.mid(0, kRecentPeerCount));
    s->sync();
}

} // namespace bramblet::platform
