// The two outside components as the program meets them: our stand-in library through the
// binding, the stand-in local server started and stopped, and the program refusing to start
// without its library.
#include "app/ApplicationTitle.h"
#include "app/UnitDuetra.h"
#include "external/companion.h"
#include "external/localserver.h"
#include "platform/processes.h"
#include "support/MainWindowRig.h"
#include "support/ProgramCopy.h"

#include <QLibraryInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>

using namespace bramblet;
using namespace bramblet::test;
using Call = std::function<void(external::ICompanionLibrary &)>;
Q_DECLARE_METATYPE(Call)

namespace {

// Set for the whole test: detached servers inherit it.
void logTo(const QString &path) { qputenv("BRAMBLET_COMPANION_LOG", QFile::encodeName(path)); }

QByteArray serverStartLine(std::int32_t pid, const QByteArray &address)
{
    return "Ostrel\tpid=" + QByteArray::number(pid) + "\targc=4\targ1=-h\targ2=127.0.0.1\targ3=-a\targ4=" + address;
}

bool logHas(const QString &path, const QByteArray &line) { return logLines(path).contains(line); }

} // namespace

class TestCompanion : public QObject {
    Q_OBJECT

    std::unique_ptr<external::CompanionLibrary> library_;
    QTemporaryDir scratch_;
    QString log_;
    std::vector<qint64> started_;

    QString programFolder(const QString &name)
    {
        const QString folder = scratch_.filePath(name) + u'/';
        if (!QFile::exists(external::localServerPath(folder)))
            copyStaged(QStringLiteral("Lib/Ostrel"), folder);
        return folder;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(scratch_.isValid());
        library_ = std::make_unique<external::CompanionLibrary>(external::companionLibraryPath(stageDir() + u'/'));
    }
    void init()
    {
        log_ = scratch_.filePath(QStringLiteral("companion-%1.log").arg(QString::fromLatin1(QTest::currentDataTag())));
        QFile::remove(log_);
        logTo(log_);
        qunsetenv("BRAMBLET_OSTREL_END_DELAY_MS");
    }
    void cleanup()
    {
        // Only the servers this test started, by their numbers.
        for (qint64 pid : started_)
            ::kill(pid_t(pid), SIGKILL);
        started_.clear();
    }

    void libraryLogsEachCall_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::newRow("MessageF: both ends with their ports")
            << Call([](external::ICompanionLibrary &l) {
                   char own[16] = "192.0.2.1", peer[16] = "198.51.100.7";
                   l.MessageF(own, 5739, peer, 40001);
               })
            << QList<QByteArray>{"MessageF\town=192.0.2.1\townPort=5739\tpeer=198.51.100.7\tpeerPort=40001"};
        QTest::newRow("MessageF: a 15-character address fills its buffer")
            << Call([](external::ICompanionLibrary &l) {
                   char own[16] = "255.255.255.254", peer[16] = "1.2.3.4";
                   l.MessageF(own, 5739, peer, 65535);
               })
            << QList<QByteArray>{"MessageF\town=255.255.255.254\townPort=5739\tpeer=1.2.3.4\tpeerPort=65535"};
        QTest::newRow("MessageE: the record in hex, header and body, and the connection's word")
            << Call([](external::ICompanionLibrary &l) {
                   unsigned char record[27] = {0x01, 0x07, 0x00, 0x03};
                   for (int i = 4; i < 27; ++i)
                       record[i] = static_cast<unsigned char>(i);
                   std::uint32_t word = 1;
                   l.MessageE(12, record, 3, &word);
                   l.MessageE(12, record, 3, &word);
               })
            << QList<QByteArray>{
                   "MessageE\tsocket=12\tlength=3\tuserWord=1\trecord=010700030405060708090a0b0c0d0e0f10111213141516"
                   "1718191a",
                   "MessageE\tsocket=12\tlength=3\tuserWord=2\trecord=010700030405060708090a0b0c0d0e0f10111213141516"
                   "1718191a"};
        QTest::newRow("MessageE: an empty body is the header alone")
            << Call([](external::ICompanionLibrary &l) {
                   unsigned char record[24] = {0xff};
                   std::uint32_t word = 7;
                   l.MessageE(5, record, 0, &word);
               })
            << QList<QByteArray>{"MessageE\tsocket=5\tlength=0\tuserWord=7\trecord=ff" + QByteArray(46, '0')};
        QTest::newRow("ResetPlayer: the invalid handle passes whole")
            << Call([](external::ICompanionLibrary &l) { l.ResetPlayer(0xFFFFFFFFu); })
            << QList<QByteArray>{"ResetPlayer\tsocket=4294967295"};
    }
    void libraryLogsEachCall()
    {
        QFETCH(Call, call);
        QFETCH(QList<QByteArray>, lines);
        call(*library_);
        QCOMPARE(logLines(log_), lines);
    }

    void libraryQuietWithoutLog()
    {
        qunsetenv("BRAMBLET_COMPANION_LOG");
        unsigned char record[24] = {};
        std::uint32_t word = 1;
        library_->MessageF("1.2.3.4", 5739, "5.6.7.8", 5739);
        library_->MessageE(3, record, 0, &word);
        library_->ResetPlayer(3);
        QVERIFY(!QFile::exists(log_));
        QCOMPARE(word, 2u);
    }

    void bindingRefuses_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing file") << scratch_.filePath(QStringLiteral("none/Lib/libVeldrin.so"))
                                      << QStringLiteral("文件不存在");
        QTest::newRow("a program, not a library")
            << stageDir() + QStringLiteral("/Lib/Ostrel") << QStringLiteral("Ostrel");
        QTest::newRow("a library without the exports")
            << QLibraryInfo::path(QLibraryInfo::LibrariesPath) + QStringLiteral("/libQt6Core.so.6")
            << QStringLiteral("缺少导出函数 MessageF");
    }
    void bindingRefuses()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        try {
            external::CompanionLibrary library(path);
            QFAIL("loaded");
        } catch (const std::exception &e) {
            const QString text = QString::fromUtf8(e.what());
            QVERIFY2(text.startsWith(QStringLiteral("无法加载组件库 ") + path + QStringLiteral("：")), qPrintable(text));
            QVERIFY2(text.contains(reason), qPrintable(text));
        }
    }

    void serverStartsWithExactArguments_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("logged");
        QTest::newRow("local address") << QStringLiteral("10.1.2.3") << QByteArray("10.1.2.3");
        QTest::newRow("shell characters stay one argument, no shell runs")
            << QStringLiteral("1.2.3.4; touch gone $(id) `id` *") << QByteArray("1.2.3.4; touch gone $(id) `id` *");
        QTest::newRow("blanks and a tab stay inside the argument")
            << QStringLiteral(" 1.2.3.4\t5 ") << QByteArray(" 1.2.3.4\\t5 ");
    }
    void serverStartsWithExactArguments()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, logged);
        const QString folder = programFolder(QStringLiteral("args"));
        const std::int32_t pid = external::startLocalServer(folder, address);
        QVERIFY(pid > 0);
        started_.push_back(pid);
        QTRY_VERIFY2(logHas(log_, serverStartLine(pid, logged)), readAll(log_).constData());
        QCOMPARE(logLines(log_).size(), 1);
        QCOMPARE(platform::processesRunning(external::localServerPath(folder)), std::vector<qint64>{pid});

        const platform::EndResult ended = external::stopLocalServer(folder);
        QCOMPARE(ended.asked, 1);
        QCOMPARE(ended.stillRunning, 0);
        QVERIFY(logHas(log_, "Ostrel\tpid=" + QByteArray::number(pid) + "\tend=SIGTERM"));
        QVERIFY(platform::processesRunning(external::localServerPath(folder)).empty());
        QVERIFY(!QFile::exists(QStringLiteral("gone")));
    }

    void stopFindsOnlyItsOwnPath()
    {
        const QString mine = programFolder(QStringLiteral("mine"));
        const QString other = programFolder(QStringLiteral("other"));
        const std::int32_t a = external::startLocalServer(mine, QStringLiteral("10.0.0.1"));
        const std::int32_t b = external::startLocalServer(other, QStringLiteral("10.0.0.2"));
        started_ = {a, b};
        QTRY_COMPARE(logLines(log_).size(), 2);
        QCOMPARE(external::stopLocalServer(mine).asked, 1);
        QCOMPARE(platform::processesRunning(external::localServerPath(other)), std::vector<qint64>{b});
        QCOMPARE(external::stopLocalServer(other).stillRunning, 0);
        QCOMPARE(external::stopLocalServer(other).asked, 0);
    }

    void slowServerOutlastsTheBound()
    {
        const QString folder = programFolder(QStringLiteral("slow"));
        qputenv("BRAMBLET_OSTREL_END_DELAY_MS", "1500");
        const std::int32_t pid = external::startLocalServer(folder, QStringLiteral("10.0.0.3"));
        started_.push_back(pid);
        QTRY_COMPARE(logLines(log_).size(), 1);
        const platform::EndResult ended = external::stopLocalServer(folder, std::chrono::milliseconds(50));
        QCOMPARE(ended.asked, 1);
        QCOMPARE(ended.stillRunning, 1);
        // It was asked, and ends on its own.
        QTRY_VERIFY_WITH_TIMEOUT(platform::processesRunning(external::localServerPath(folder)).empty(), 15000);
        QVERIFY(logHas(log_, "Ostrel\tpid=" + QByteArray::number(pid) + "\tend=SIGTERM"));
    }

    void mainWindowStartsAndCloseStops()
    {
        const QString folder = programFolder(QStringLiteral("window"));
        MainWindowRig rig(scratch_.filePath(QStringLiteral("window-hosts")), folder);
        TBrambletMainForm &form = *rig.form;
        form.StartLocalServer(QStringLiteral("10.0.0.5"));
        QVERIFY(form.LaunchResult > 0);
        started_.push_back(form.LaunchResult);
        QTRY_VERIFY(logHas(log_, serverStartLine(form.LaunchResult, "10.0.0.5")));
        form.close();
        QVERIFY(logHas(log_, "Ostrel\tpid=" + QByteArray::number(form.LaunchResult) + "\tend=SIGTERM"));
        QVERIFY(platform::processesRunning(external::localServerPath(folder)).empty());
    }

    void programWithoutLibraryEnds_data()
    {
        QTest::addColumn<QString>("libraryStandIn");
        QTest::addColumn<QString>("reason");
        QTest::newRow("Lib/libVeldrin.so missing") << QString() << QStringLiteral("文件不存在");
        QTest::newRow("Lib/libVeldrin.so not a library") << QStringLiteral("Lib/Ostrel") << QString();
    }
    void programWithoutLibraryEnds()
    {
        QFETCH(QString, libraryStandIn);
        QFETCH(QString, reason);
        ProgramCopy copy;
        QCOMPARE(copy.prepare(), QString());
        const QString library = copy.programDir() + QStringLiteral("/Lib/libVeldrin.so");
        QVERIFY(QFile::remove(library));
        if (!libraryStandIn.isEmpty())
            QVERIFY(QFile::copy(stageDir() + u'/' + libraryStandIn, library));
        // No private /etc: the program ends before it reads anything there.
        QVERIFY(copy.start({}, {}, {}, {}, false));
        QVERIFY(copy.process().waitForFinished(60000));
        QCOMPARE(copy.process().exitStatus(), QProcess::NormalExit);
        QVERIFY(copy.process().exitCode() != 0);

        const QList<QByteArray> lines = logLines(copy.uiLog());
        QCOMPARE(lines.size(), 1);
        const QStringList box = QString::fromUtf8(lines.first()).split(u'\t');
        QCOMPARE(box.size(), 4);
        QCOMPARE(box[0], QStringLiteral("box"));
        QCOMPARE(box[1], applicationTitle());
        QCOMPARE(box[2], QStringLiteral("error"));
        QVERIFY2(box[3].startsWith(QStringLiteral("无法加载组件库 ") + library + QStringLiteral("：")), qPrintable(box[3]));
        QVERIFY2(box[3].contains(reason), qPrintable(box[3]));
        // Before anything else: not even the single-instance lock was taken.
        QCOMPARE(QDir(copy.runtimeDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }
};

QTEST_MAIN(TestCompanion)
#include "tst_companion.moc"
