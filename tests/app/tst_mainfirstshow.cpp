#include "app/DesktopServices.h"
#include "app/EnvironmentChecks.h"
#include "app/ErrorBox.h"
#include "app/TrayIcon.h"
#include "app/UnitDuetra.h"
#include "platform/gamesettings.h"
#include "support/FakeTrayHost.h"
#include "support/PeImageWriter.h"
#include "support/QuietDesktop.h"
#include "support/RecordingMessages.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace bramblet;
using bramblet::test::FakeTrayHost;
using bramblet::test::RecordingMessages;

namespace {

bool writeFile(const QString &path, const test::ByteVector &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) &&
           f.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size())) == qint64(bytes.size());
}

// Answers the file dialog with a path chosen by the test.
class ChoosingDialog : public IFileDialog {
public:
    QString answer;
    int asked = 0;
    std::optional<QString> openFile(QWidget *, const QString &, const QString &) override
    {
        ++asked;
        if (answer.isEmpty())
            return std::nullopt;
        return answer;
    }
};

} // namespace

class TestMainFirstShow : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    RecordingMessages messages;
    ChoosingDialog dialog;
    test::QuietDesktop shell;
    FakeTrayHost *host = nullptr;

    MainFormServices services(platform::IGameSettings *settings)
    {
        MainFormServices s;
        s.messages = &messages;
        s.fileDialog = &dialog;
        s.shell = &shell;
        s.settings = settings;
        s.isAdministrator = [] { return true; };
        s.quitApplication = [] {};
        s.programFolder = dir.path() + QLatin1Char('/');
        s.trayHost = [this] {
            auto h = std::make_unique<FakeTrayHost>();
            host = h.get();
            return std::unique_ptr<ITrayHost>(std::move(h));
        };
        return s;
    }

private slots:
    void init()
    {
        messages.boxes.clear();
        dialog = ChoosingDialog{};
        shell.opened.clear();
        processFlags() = ProcessFlags{};
    }

    void versionFromTheChosenExecutable()
    {
        const QString exe = dir.filePath(QStringLiteral("PES2008.exe"));
        QVERIFY(writeFile(exe, test::buildPe(test::simpleVersionBlock("1.2.0.1"))));
        QCOMPARE(TBrambletMainForm::GetFileVersion(exe), QStringLiteral("1.2.0.1"));

        platform::GameSettings settings(dir.filePath(QStringLiteral("settings.conf")));
        dialog.answer = exe;
        TBrambletMainForm form(services(&settings));
        form.show();
        QTRY_COMPARE(host->balloons.size(), 1);
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
        if (!content.isNull()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        QVERIFY(TBrambletMainForm::GetFileVersion(path).isEmpty());
    }

    void helpBalloonClickOpensTheHelpBesideTheProgram()
    {
        TBrambletMainForm form(services(&shell));
        form.show();
        QTRY_COMPARE(host->balloons.size(), 1);
        host->clickBalloon();
        QTRY_COMPARE(shell.opened.size(), 1);
        QCOMPARE(shell.opened[0], dir.path() + QLatin1Char('/') + helpFileName());
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
