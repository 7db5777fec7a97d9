#include "platform/gamesettings.h"

#include <QFileInfo>
#include <QSettings>

namespace bramblet::platform {

namespace {
const QString kInstallDir = QStringLiteral("installdir");
}

GameSettings::GameSettings(const QString &fileOverride) : fileOverride_(fileOverride) {}

GameSettings::~GameSettings() = default;

bool GameSettings::open()
{
    if (!fileOverride_.isEmpty())
        settings_ = std::make_unique<QSettings>(fileOverride_, QSettings::IniFormat);
    else
        settings_ = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::SystemScope,
                                                QStringLiteral("Bramblet"), QStringLiteral("Bramblet"));
    // "Full access": a store we could read but never write would ask the user in vain.
    settings_->sync();
    if (!settings_->isWritable() || settings_->status() != QSettings::NoError) {
        settings_.reset();
        return false;
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

} // namespace bramblet::platform
