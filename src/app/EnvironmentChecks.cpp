#include "app/EnvironmentChecks.h"

#include "app/ApplicationTitle.h"
#include "app/DesktopServices.h"
#include "app/MessageService.h"
#include "app/UnitDuetra.h"
#include "platform/gamesettings.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace bramblet {

QString helpFileName()
{
#ifdef _WIN32
    return QStringLiteral("联机问题解答.chm");
#else
    return QStringLiteral("联机问题解答.html");
#endif
}

QString playersHelpFileName() { return QStringLiteral("联机问题解答.chm"); }

EnvironmentChecks::EnvironmentChecks(ProcessFlags &flags, Services services) : flags_(flags), s_(std::move(services))
{
}

void EnvironmentChecks::checkGameVersion(QWidget *owner)
{
    if (!s_.settings->open())
        return;
    QString version;
    QString folder;
    do {
        QString path;
        if (!s_.settings->hasInstallDir()) {
            if (folder.isEmpty() && s_.chooserFolder)
                folder = s_.chooserFolder();
            const auto chosen = s_.fileDialog->openFile(owner, QStringLiteral("CHOOSE YOUR-SELEZIONA IL TUO PES2008.exe "),
                                                        QStringLiteral("PES2008.exe (PES2008.exe)"), folder);
            if (!chosen)
                break;
            // A store that takes the value but cannot keep it must not make the user choose the
            // same file for ever: this pass reads the file chosen.
            if (!s_.settings->setInstallDir(*chosen))
                path = *chosen;
        }
        if (path.isEmpty())
            path = s_.settings->installDir();
        version = s_.getFileVersion(path);
        if (version.isEmpty())
            s_.settings->removeInstallDir();
    } while (version.isEmpty());

    if (!version.isEmpty())
        s_.messages->show(owner,
                          QCoreApplication::translate("EnvironmentChecks", "您的游戏版本为：%1\r\n"
                                                                           "最好为1.2.0.1，其他版本不保证可以联机\r\n"
                                                                           "如果为其他版本，也请确认对方和您的版本保持一致！")
                              .arg(version),
                          QCoreApplication::translate("EnvironmentChecks", "通知"), MessageIcon::Information);
    else
        s_.messages->show(owner, QCoreApplication::translate("EnvironmentChecks", "没有选择PES2008.exe，无法帮您检测游戏版本"),
                          QCoreApplication::translate("EnvironmentChecks", "警告"),
                          MessageIcon::Warning);
    s_.settings->close();
}

void EnvironmentChecks::FormShow(QWidget *owner)
{
    // The boxes and the dialog below run nested loops; a show inside them must not start the
    // checks a second time.
    if (running_)
        return;
    running_ = true;
    struct Done {
        bool &flag;
        ~Done() { flag = false; }
    } done{running_};
    if (flags_.EnvironmentCheckPending) {
        checkGameVersion(owner);
        flags_.EnvironmentCheckPending = false;
        if (!s_.isAdministrator())
            s_.messages->show(owner, QCoreApplication::translate("EnvironmentChecks", "当前操作系统用户不是管理员帐户，联机时有可能会出现错误！"),
                              QCoreApplication::translate("EnvironmentChecks", "警告"), MessageIcon::Warning);
    }
    if (flags_.HelpBalloonPending) {
        flags_.HelpBalloonActive = true;
        s_.showBalloon(QCoreApplication::translate("EnvironmentChecks", "不能正常联机？联机时有错误？"),
                       QCoreApplication::translate("EnvironmentChecks", "请点我解决！"));
        flags_.HelpBalloonPending = false;
    }
}

void EnvironmentChecks::BalloonHintClick(QWidget *owner)
{
    if (!flags_.HelpBalloonActive)
        return;
    // Looked for at each click: the file may have been put there while the program ran.
    const bool playersHelp = !s_.playersHelpPath.isEmpty() && QFileInfo(s_.playersHelpPath).isFile();
    if (!s_.shell->openDocument(playersHelp ? s_.playersHelpPath : s_.helpFilePath))
        s_.messages->show(owner, QCoreApplication::translate("EnvironmentChecks", "帮助文件损坏！"), applicationTitle(), MessageIcon::None);
}

} // namespace bramblet
