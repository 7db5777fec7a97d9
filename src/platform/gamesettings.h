#pragma once

#include <QString>

#include <memory>
#include <optional>

class QSettings;

namespace bramblet::platform {

// The one stored value of the program: the full path of the game executable the user chose,
// "installdir" under the machine-wide "SOFTWARE\Bramblet" key (Linux: system-scope settings).
class IGameSettings {
public:
    virtual ~IGameSettings() = default;
    // Opens the key with full access, creating it when missing; false when it cannot be
    // written (then nothing else is tried).
    virtual bool open() = 0;
    virtual bool hasInstallDir() const = 0;
    virtual QString installDir() const = 0;
    virtual bool setInstallDir(const QString &path) = 0;
    virtual void removeInstallDir() = 0;
    virtual void close() = 0;
};

class GameSettings : public IGameSettings {
public:
    // The machine-wide store; `fileOverride`, when not empty, names an INI file instead
    // (tests, and tests of the real program through the entry point).
    explicit GameSettings(const QString &fileOverride = QString());
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

private:
    QString fileOverride_;
    std::unique_ptr<QSettings> settings_;
};

} // namespace bramblet::platform
