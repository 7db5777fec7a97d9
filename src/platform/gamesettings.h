#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QSettings;

namespace bramblet::platform {

// The player's own stored values: "installdir", the full path of the game executable the
// player chose, and the last addresses that led to a link. They live in the player's own
// settings (Linux: under ~/.config), since the program runs as the player; a game path an
// earlier run left in the machine-wide store is taken as the starting value.
class IGameSettings {
public:
    virtual ~IGameSettings() = default;
    // Opens the player's store, creating it when missing; false when it cannot be written
    // (then nothing else is tried).
    virtual bool open() = 0;
    virtual bool hasInstallDir() const = 0;
    virtual QString installDir() const = 0;
    virtual bool setInstallDir(const QString &path) = 0;
    virtual void removeInstallDir() = 0;
    virtual void close() = 0;
    // The last addresses that led to a link, newest first; an entry that is no plain dotted
    // quad is dropped. Each opens the store on its own.
    virtual QStringList recentPeers() { return {}; }
    virtual void rememberPeer(const QString &) {}
};

class GameSettings : public IGameSettings {
public:
    // The player's store and the machine-wide one; a non-empty override names an INI file
    // instead (tests, and tests of the real program through the entry point).
    explicit GameSettings(const QString &fileOverride = QString(), const QString &systemFileOverride = QString());
    ~GameSettings() override;
    GameSettings(const GameSettings &) = delete;
    GameSettings &operator=(const GameSettings &) = delete;

    bool open() override;
    bool hasInstallDir() const override;
    QString installDir() const override;
    bool setInstallDir(const QString &path) override;
    void removeInstallDir() override;
    void close() override;

    QString location() const;

    QStringList recentPeers() override;
    void rememberPeer(const QString &address) override;

private:
    std::unique_ptr<QSettings> userStore() const;

    QString fileOverride_;
    QString systemFileOverride_;
    std::unique_ptr<QSettings> settings_;
};

} // namespace bramblet::platform
