#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace bramblet {

class IFileDialog;
class IMessageService;
class IShell;
struct ProcessFlags;
namespace platform {
class IGameSettings;
}

// What the main window's first show checks once: the game's version and the user's rights,
// followed by the help balloon; and what a click on that balloon opens.
class EnvironmentChecks {
public:
    struct Services {
        IMessageService *messages = nullptr;
        IFileDialog *fileDialog = nullptr;
        IShell *shell = nullptr;
        platform::IGameSettings *settings = nullptr;
        std::function<QString(const QString &path)> getFileVersion;
        std::function<bool()> isAdministrator;
        // Where the chooser opens: where the game seems to be installed.
        std::function<QString()> chooserFolder;
        std::function<void(const QString &title, const QString &text)> showBalloon;
        // The built-in help page, and the players' own help file, which wins where it lies.
        QString helpFilePath;
        QString playersHelpPath;
    };

    EnvironmentChecks(ProcessFlags &flags, Services services);

    // The main window's show handler: works only while a pending flag is set.
    void FormShow(QWidget *owner);
    // A click on a balloon: opens the help only while the help balloon is the active one.
    void BalloonHintClick(QWidget *owner);

private:
    void checkGameVersion(QWidget *owner);

    ProcessFlags &flags_;
    Services s_;
    bool running_ = false;
};

// The file name of the built-in help page beside the program.
QString helpFileName();
// The help file the players know, opened with the desktop's viewer where it lies beside
// the program.
QString playersHelpFileName();

} // namespace bramblet
