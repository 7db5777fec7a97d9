#include "app/EnvironmentChecks.h"
#include "app/TrayIcon.h"
#include "platform/gamesettings.h"
#include "support/MainWindowRig.h"
#include "support/PeImageWriter.h"
#include "support/StagedCopy.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>

using namespace bramblet;
using namespace bramblet::test;

namespace {

bool writeFile(const QString &path, const ByteVector &bytes)
{
    return writeAll(path, QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())));
}

// Answers the file dialog with a path chosen by the test.
class ChoosingDialog : public IFileDialog {
public:
    QString answer;
    int asked = 0;
    std::optional<QString> openFile(QWidget *, const QString &, const QString &, const QString &) override
    {
        ++asked;
        if (answer.isEmpty())
            return std::nullopt;
        return answer;
    }
};

// Bytes this process has read through read() and the like so far.
qint64 bytesRead()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n'))
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    return -1;
}

} // namespace

class TestMainFirstShow : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    ChoosingDialog dialog;
    QuietDesktop shell;
    platform::GameSettings settings { dir.filePath(QStringLiteral("settings.conf")) };
    MainWindowRig rig;
    RecordingMessages &messages = rig.messages;
    FakeTrayHost *&host = rig.host;

    TBrambletMainForm &show(platform::IGameSettings *store)
    {
        rig.services.fileDialog = &dialog;
        rig.services.shell = &shell;
        rig.services.settings = store;
        rig.services.programFolder = dir.path() + QLatin1Char('/');
        rig.make().show();
        return *rig.form;
    }

private slots:
    void init()
    {
        messages.boxes.clear();
        dialog = ChoosingDialog{};
        shell.opened.clear();
        processFlags() = ProcessFlags{};
    }
    void cleanup() { rig.form.reset(); }

    void versionFromTheChosenExecutable()
    {
        const QString exe = dir.filePath(QStringLiteral("PES2008.exe"));
        QVERIFY(writeFile(exe, buildPe(simpleVersionBlock("1.2.0.1"))));
        QCOMPARE(TBrambletMainForm::GetFileVersion(exe), QStringLiteral("1.2.0.1"));

        dialog.answer = exe;
        // The checks wait with the window running; its buttons take no press meanwhile.
        bool pressable = true;
        rig.services.isAdministrator = [&] {
            pressable = rig.form->ButtonServer->isEnabled();
            return true;
        };
        TBrambletMainForm &form = show(&settings);
        QTRY_COMPARE(host->balloons.size(), 1);
        QVERIFY(!pressable);
        QVERIFY(form.ButtonServer->isEnabled());
        rig.services.isAdministrator = nullptr;
        QCOMPARE(dialog.asked, 1);
        QCOMPARE(messages.boxes.size(), 1);
        QVERIFY(messages.boxes[0].text.startsWith(QStringLiteral("您的游戏版本为：1.2.0.1\r\n")));
        QCOMPARE(messages.boxes[0].owner.data(), static_cast<QWidget *>(&form));
        QCOMPARE(host->balloons[0].title, QStringLiteral("不能正常联机？联机时有错误？"));
        QCOMPARE(host->balloons[0].text, QStringLiteral("请点我解决！"));
        QCOMPARE(host->balloons[0].msecs, 10000);
        QCOMPARE(host->balloons[0].icon, BalloonIcon::Info);

        // Back from the tray: nothing again.
        form.hide();
        form.show();
        QCoreApplication::processEvents();
        QCOMPARE(host->balloons.size(), 1);
        QCOMPARE(messages.boxes.size(), 1);

        // The path is remembered for the next run.
        platform::GameSettings again(dir.filePath(QStringLiteral("settings.conf")));
        QVERIFY(again.open());
        QCOMPARE(again.installDir(), exe);
    }

    void filesThatAreNoExecutables_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("text") << QByteArray("MZ but not really a program");
        QTest::newRow("empty") << QByteArray("");
    }
    void filesThatAreNoExecutables()
    {
        QFETCH(QByteArray, content);
        const QString path = dir.filePath(QStringLiteral("not-a-game"));
        QFile::remove(path);
        if (!content.isNull())
            QVERIFY(writeAll(path, content));
        QVERIFY(TBrambletMainForm::GetFileVersion(path).isEmpty());
    }

    // A path typed into the file dialog may name anything; the window must not wait on it.
    void filesThatAreNoPlainExecutables_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("version");
        QTest::newRow("FIFO without a writer") << "fifo" << "";
        QTest::newRow("endless device") << "/dev/zero" << "";
        QTest::newRow("terminal without input") << "pty" << "";
        QTest::newRow("directory") << "dir" << "";
        QTest::newRow("4 GiB sparse, version at the start") << "sparse-pe" << "1.2.0.1";
        QTest::newRow("4 GiB sparse, no executable") << "sparse" << "";
    }
    void filesThatAreNoPlainExecutables()
    {
        QFETCH(QString, kind);
        QFETCH(QString, version);
        QString path = kind.startsWith(QLatin1Char('/')) ? kind : dir.filePath(kind);
        int terminal = -1;
        if (kind == QLatin1String("pty")) {
            terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
            QVERIFY(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
            path = QFile::decodeName(::ptsname(terminal));
        } else if (kind == QLatin1String("fifo")) {
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (kind == QLatin1String("dir")) {
            QVERIFY(QDir(dir.path()).mkpath(kind));
        } else if (kind.startsWith(QLatin1String("sparse"))) {
            if (kind == QLatin1String("sparse-pe"))
                QVERIFY(writeFile(path, buildPe(simpleVersionBlock("1.2.0.1"))));
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            if (!f.resize(qint64(4) << 30))
                QSKIP("this file system takes no 4 GiB sparse file");
        }
        const qint64 before = bytesRead();
        auto result = std::async(std::launch::async, [path] { return TBrambletMainForm::GetFileVersion(path); });
        const bool prompt = result.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        // Let a stuck reader go, so that a failure is reported and not a hang.
        if (!prompt && kind == QLatin1String("fifo")) {
            const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
        }
        if (terminal >= 0)
            ::close(terminal); // a reader of the other side now gets an error

        const QString got = result.get();
        QVERIFY2(prompt, "GetFileVersion waited on the file");
        QCOMPARE(got, version);
        QVERIFY2(bytesRead() - before < (1 << 20), qPrintable(QString::number(bytesRead() - before)));
        QFile::remove(path);
    }

    void helpBalloonClickOpensTheHelpBesideTheProgram_data()
    {
        QTest::addColumn<bool>("playersHelp");
        QTest::newRow("the players' help file lies beside the program") << true;
        QTest::newRow("none there: the built-in page") << false;
    }
    void helpBalloonClickOpensTheHelpBesideTheProgram()
    {
        QFETCH(bool, playersHelp);
        const QString chm = dir.filePath(QStringLiteral("联机问题解答.chm"));
        QFile::remove(chm);
        if (playersHelp)
            QVERIFY(writeFile(chm, ByteVector{'I', 'T', 'S', 'F'}));
        show(&shell);
        QTRY_COMPARE(host->balloons.size(), 1);
        host->clickBalloon();
        QTRY_COMPARE(shell.opened.size(), 1);
        QCOMPARE(shell.opened[0], playersHelp ? chm : dir.path() + QLatin1Char('/') + helpFileName());
        // After the link's balloon, a click does nothing.
        processFlags().HelpBalloonActive = false;
        host->clickBalloon();
        QCoreApplication::processEvents();
        QCOMPARE(shell.opened.size(), 1);
    }
};

int main(int argc, char *argv[])
{
    BrambletApplication app(argc, argv);
    TestMainFirstShow t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_mainfirstshow.moc"
