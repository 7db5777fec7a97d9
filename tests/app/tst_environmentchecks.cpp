#include "app/DesktopServices.h"
#include "app/EnvironmentChecks.h"
#include "app/UnitDuetra.h"
#include "platform/gamesettings.h"
#include "support/RecordingMessages.h"

#include <QMap>
#include <QtTest>

#include <deque>

using namespace bramblet;
using bramblet::test::RecordingMessages;

namespace {

class FakeSettings : public platform::IGameSettings {
public:
    bool canOpen = true;
    bool canWrite = true;
    bool isOpen = false;
    std::optional<QString> value;
    QStringList log;
    bool open() override
    {
        log << QStringLiteral("open");
        isOpen = canOpen;
        return canOpen;
    }
    bool hasInstallDir() const override { return value.has_value(); }
    QString installDir() const override { return value.value_or(QString()); }
    bool setInstallDir(const QString &path) override
    {
        log << QStringLiteral("set ") + path;
        if (canWrite)
            value = path;
        return canWrite;
    }
    void removeInstallDir() override
    {
        log << QStringLiteral("remove");
        value.reset();
    }
    void close() override
    {
        log << QStringLiteral("close");
        isOpen = false;
    }
};

class FakeDialog : public IFileDialog {
public:
    std::deque<std::optional<QString>> answers;
    QStringList titles;
    QStringList filters;
    QStringList folders;
    std::optional<QString> openFile(QWidget *, const QString &title, const QString &filter, const QString &folder) override
    {
        titles << title;
        filters << filter;
        folders << folder;
        if (answers.empty())
            return std::nullopt;
        // Not a copy of the optional: GCC 12 at -O3 takes its empty case for an unset string.
        const bool chosen = answers.front().has_value();
        const QString path = answers.front().value_or(QString());
        answers.pop_front();
        if (!chosen)
            return std::nullopt;
        return path;
    }
};

class FakeShell : public IShell {
public:
    bool succeed = true;
    QStringList opened;
    bool openDocument(const QString &path) override
    {
        opened << path;
        return succeed;
    }
};

const QString kVersionBox = QStringLiteral("您的游戏版本为：1.2.0.1\r\n最好为1.2.0.1，其他版本不保证可以联机\r\n"
                                           "如果为其他版本，也请确认对方和您的版本保持一致！");
const QString kNoGame = QStringLiteral("没有选择PES2008.exe，无法帮您检测游戏版本");
const QString kNoAdmin = QStringLiteral("当前操作系统用户不是管理员帐户，联机时有可能会出现错误！");

} // namespace

class TestEnvironmentChecks : public QObject {
    Q_OBJECT

    ProcessFlags flags;
    RecordingMessages messages;
    FakeSettings settings;
    FakeDialog dialog;
    FakeShell shell;
    QMap<QString, QString> versions; // path -> FileVersion
    bool admin = true;
    QStringList balloons;
    int searches = 0;

    EnvironmentChecks makeChecks()
    {
        EnvironmentChecks::Services s;
        s.messages = &messages;
        s.fileDialog = &dialog;
        s.shell = &shell;
        s.settings = &settings;
        s.getFileVersion = [this](const QString &p) { return versions.value(p); };
        s.isAdministrator = [this] { return admin; };
        s.showBalloon = [this](const QString &t, const QString &x) { balloons << t + QLatin1Char('|') + x; };
        s.helpFilePath = QStringLiteral("/opt/bramblet/") + helpFileName();
        s.chooserFolder = [this] { return QStringLiteral("/home/p/.wine/drive_c/game%1").arg(++searches); };
        return EnvironmentChecks(flags, s);
    }

private slots:
    void init()
    {
        flags = ProcessFlags{true, true, false};
        messages.boxes.clear();
        messages.onShow = nullptr;
        settings = FakeSettings{};
        dialog = FakeDialog{};
        shell = FakeShell{};
        versions.clear();
        versions.insert(QStringLiteral("/games/PES2008.exe"), QStringLiteral("1.2.0.1"));
        admin = true;
        balloons.clear();
        searches = 0;
    }

    void storedPathShowsVersionWithoutDialog()
    {
        settings.value = QStringLiteral("/games/PES2008.exe");
        auto checks = makeChecks();
        checks.FormShow(nullptr);
        QVERIFY(dialog.titles.isEmpty());
        QCOMPARE(messages.texts(), QStringList{kVersionBox});
        QCOMPARE(messages.boxes[0].caption, QStringLiteral("通知"));
        QCOMPARE(messages.boxes[0].icon, MessageIcon::Information);
        QCOMPARE(settings.log.last(), QStringLiteral("close"));
        QCOMPARE(balloons, QStringList{QStringLiteral("不能正常联机？联机时有错误？|请点我解决！")});
        QVERIFY(flags.HelpBalloonActive);
        QVERIFY(!flags.HelpBalloonPending);
        QVERIFY(!flags.EnvironmentCheckPending);
    }

    void versionShownExactlyAsStored_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("other release") << QStringLiteral("1.0.0.0");
        QTest::newRow("free text") << QStringLiteral("1, 2, 0, 1 (build 77)");
    }
    void versionShownExactlyAsStored()
    {
        QFETCH(QString, version);
        settings.value = QStringLiteral("/games/other.exe");
        versions.insert(QStringLiteral("/games/other.exe"), version);
        auto checks = makeChecks();
        checks.FormShow(nullptr);
        QCOMPARE(messages.boxes.size(), 1);
        QVERIFY(messages.boxes[0].text.startsWith(QStringLiteral("您的游戏版本为：") + version + QStringLiteral("\r\n")));
        QCOMPARE(messages.boxes[0].icon, MessageIcon::Information);
    }

    void stalePathIsForgottenAndAskedAgain()
    {
        settings.value = QStringLiteral("/moved/PES2008.exe");
        dialog.answers = {QStringLiteral("/games/PES2008.exe")};
        auto checks = makeChecks();
        checks.FormShow(nullptr);
        QCOMPARE(settings.log, QStringList({QStringLiteral("open"), QStringLiteral("remove"),
                                            QStringLiteral("set /games/PES2008.exe"), QStringLiteral("close")}));
        QCOMPARE(dialog.titles, QStringList{QStringLiteral("CHOOSE YOUR-SELEZIONA IL TUO PES2008.exe ")});
        QCOMPARE(dialog.filters, QStringList{QStringLiteral("PES2008.exe (PES2008.exe)")});
        QCOMPARE(messages.texts(), QStringList{kVersionBox});
        QCOMPARE(settings.value, std::optional<QString>(QStringLiteral("/games/PES2008.exe")));
    }

    void fileWithoutVersionAsksPassAfterPass()
    {
        dialog.answers = {QStringLiteral("/tmp/notes.txt"), QStringLiteral("/tmp/other.txt"),
                          QStringLiteral("/games/PES2008.exe")};
        auto checks = makeChecks();
        checks.FormShow(nullptr);
        QCOMPARE(dialog.titles.size(), 3);
        // Where the game is installed is looked for once, then every pass opens there.
        QCOMPARE(dialog.folders, QStringList(3, QStringLiteral("/home/p/.wine/drive_c/game1")));
        QCOMPARE(messages.texts(), QStringList{kVersionBox});
    }

    void cancelWarnsAndLeavesValueAbsent()
    {
        dialog.answers = {std::nullopt};
        admin = false;
        auto checks = makeChecks();
        checks.FormShow(nullptr);
        QCOMPARE(messages.texts(), QStringList({kNoGame, kNoAdmin}));
        QCOMPARE(messages.boxes[0].caption, QStringLiteral("警告"));
        QCOMPARE(messages.boxes[0].icon, MessageIcon::Warning);
        QCOMPARE(messages.boxes[1].caption, QStringLiteral("警告"));
        QVERIFY(!settings.value.has_value());
        QCOMPARE(balloons.size(), 1);
    }

    void unwritableStoreSkipsTheVersionButNotTheRights()
    {
        settings.canOpen = false;
        admin = false;
        auto checks = makeChecks();
        checks.FormShow(nullptr);
        QVERIFY(dialog.titles.isEmpty());
        QCOMPARE(messages.texts(), QStringList{kNoAdmin});
        QCOMPARE(balloons.size(), 1);
    }

    void storeThatLosesWritesDoesNotLoop()
    {
        settings.canWrite = false;
        dialog.answers = {QStringLiteral("/games/PES2008.exe")};
        auto checks = makeChecks();
        checks.FormShow(nullptr);
        QCOMPARE(dialog.titles.size(), 1);
        QCOMPARE(messages.texts(), QStringList{kVersionBox});
    }

    void laterShowsDoNothing()
    {
        settings.value = QStringLiteral("/games/PES2008.exe");
        auto checks = makeChecks();
        checks.FormShow(nullptr);
        const int boxes = int(messages.boxes.size());
        checks.FormShow(nullptr);
        checks.FormShow(nullptr);
        QCOMPARE(int(messages.boxes.size()), boxes);
        QCOMPARE(balloons.size(), 1);
        QCOMPARE(settings.log.count(QStringLiteral("open")), 1);
    }

    void showInsideABoxDoesNotRestartTheChecks()
    {
        settings.value = QStringLiteral("/games/PES2008.exe");
        auto checks = makeChecks();
        messages.onShow = [&](const auto &) { checks.FormShow(nullptr); };
        checks.FormShow(nullptr);
        QCOMPARE(messages.boxes.size(), 1);
        QCOMPARE(balloons.size(), 1);
    }

    void balloonClick_data()
    {
        QTest::addColumn<bool>("helpActive");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<int>("opened");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("help balloon opens the help") << true << true << 1 << QStringList();
        QTest::newRow("help file broken") << true << false << 1 << QStringList{QStringLiteral("帮助文件损坏！")};
        QTest::newRow("after the link balloon nothing") << false << true << 0 << QStringList();
    }
    void balloonClick()
    {
        QFETCH(bool, helpActive);
        QFETCH(bool, opens);
        QFETCH(int, opened);
        QFETCH(QStringList, boxes);
        flags.HelpBalloonActive = helpActive;
        shell.succeed = opens;
        auto checks = makeChecks();
        checks.BalloonHintClick(nullptr);
        QCOMPARE(int(shell.opened.size()), opened);
        if (opened)
            QCOMPARE(shell.opened[0], QStringLiteral("/opt/bramblet/") + helpFileName());
        QCOMPARE(messages.texts(), boxes);
        if (!boxes.isEmpty()) {
            QCOMPARE(messages.boxes[0].caption, QStringLiteral("Bramblet 1.5.1"));
            QCOMPARE(messages.boxes[0].icon, MessageIcon::None);
        }
    }
};

QTEST_MAIN(TestEnvironmentChecks)
#include "tst_environmentchecks.moc"
