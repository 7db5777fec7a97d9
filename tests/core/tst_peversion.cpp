#include "core/peversion.h"

#include "../support/PeImageWriter.h"

#include <QtTest>

using namespace bramblet;
using namespace bramblet::test;

Q_DECLARE_METATYPE(bramblet::test::ByteVector)

namespace {

QString version(const ByteVector &image) { return QString::fromStdString(pe::fileVersion(image)); }

ByteVector prefix(const ByteVector &v, std::size_t n) { return ByteVector(v.begin(), v.begin() + std::ptrdiff_t(n)); }

} // namespace

class TestPeVersion : public QObject {
    Q_OBJECT
private slots:
    void versions_data()
    {
        QTest::addColumn<ByteVector>("image");
        QTest::addColumn<QString>("expected");
        QTest::newRow("FileVersion 1.2.0.1") << buildPe(simpleVersionBlock("1.2.0.1")) << "1.2.0.1";
        QTest::newRow("text kept exactly as stored")
            << buildPe(simpleVersionBlock(" 1, 2, 0, 1 (build) ")) << " 1, 2, 0, 1 (build) ";
        QTest::newRow("non-ASCII text to UTF-8") << buildPe(simpleVersionBlock("版本 1.0")) << "版本 1.0";
        QTest::newRow("PE32+ image") << buildPe(simpleVersionBlock("2.0"), PeOptions{.pe32Plus = true}) << "2.0";
        QTest::newRow("resource section alone")
            << buildPe(simpleVersionBlock("3.1"), PeOptions{.codeSectionFirst = false}) << "3.1";
        QTest::newRow("numbered type after a named one")
            << buildPe(simpleVersionBlock("4.4"), PeOptions{.namedTypeFirst = true}) << "4.4";
        QTest::newRow("other name and language ids")
            << buildPe(simpleVersionBlock("5.0", 0x0409, 0x04E4), PeOptions{.nameId = 7, .languageId = 0x0409})
            << "5.0";
        QTest::newRow("empty FileVersion") << buildPe(simpleVersionBlock("")) << "";

        const ByteVector noTranslation = versionBlock(versionInfoRoot(
            {stringFileInfo({stringTable("080404B0", {versionString("FileVersion", "1.2.0.1")})})}));
        QTest::newRow("no translation") << buildPe(noTranslation) << "";

        const ByteVector firstWithout = versionBlock(versionInfoRoot({
            stringFileInfo({stringTable("040904B0", {versionString("FileVersion", "9.9")}),
                            stringTable("080404B0", {versionString("ProductVersion", "1.0")})}),
            varFileInfo({{0x0804, 0x04B0}, {0x0409, 0x04B0}}),
        }));
        QTest::newRow("first translation has no FileVersion") << buildPe(firstWithout) << "";

        const ByteVector lowerCaseKey = versionBlock(versionInfoRoot({
            varFileInfo({{0x0804, 0x04B0}}),
            stringFileInfo({stringTable("080404b0", {versionString("fileversion", "6.1")})}),
        }));
        QTest::newRow("keys compared without case, VarFileInfo first") << buildPe(lowerCaseKey) << "6.1";

        const ByteVector secondTable = versionBlock(versionInfoRoot({
            stringFileInfo({stringTable("040904B0", {versionString("FileVersion", "en")}),
                            stringTable("080404B0", {versionString("FileVersion", "zh")})}),
            varFileInfo({{0x0804, 0x04B0}}),
        }));
        QTest::newRow("table chosen by translation") << buildPe(secondTable) << "zh";

        VersionNode emptyTranslation = varFileInfo({});
        QTest::newRow("translation with no entry")
            << buildPe(versionBlock(versionInfoRoot(
                   {stringFileInfo({stringTable("080404B0", {versionString("FileVersion", "1")})}), emptyTranslation})))
            << "";

        VersionNode zeroLength = versionString("FileVersion", "7.7");
        zeroLength.valueLength = 0;
        QTest::newRow("value length 0 reads empty")
            << buildPe(versionBlock(versionInfoRoot(
                   {stringFileInfo({stringTable("080404B0", {zeroLength})}), varFileInfo({{0x0804, 0x04B0}})})))
            << "";

        VersionNode byteCounted = versionString("FileVersion", "8.8");
        byteCounted.valueLength = 200; // some tools count bytes; the block end still bounds it
        QTest::newRow("overstated value length")
            << buildPe(versionBlock(versionInfoRoot(
                   {stringFileInfo({stringTable("080404B0", {byteCounted})}), varFileInfo({{0x0804, 0x04B0}})})))
            << "8.8";
    }
    void versions()
    {
        QFETCH(ByteVector, image);
        QFETCH(QString, expected);
        QCOMPARE(version(image), expected);
    }

    void translationText()
    {
        QCOMPARE(QString::fromStdString(pe::firstTranslation(simpleVersionBlock("1", 0x0804, 0x04B0))),
                 QStringLiteral("080404B0"));
        QCOMPARE(QString::fromStdString(pe::firstTranslation(simpleVersionBlock("1", 0x0409, 0x04e4))),
                 QStringLiteral("040904E4"));
        QCOMPARE(QString::fromStdString(pe::queryVersionString(simpleVersionBlock("1"),
                                                               "\\\\StringFileInfo\\\\080404B0\\CompanyName\\")),
                 QStringLiteral("Maker"));
    }

    // Cut the file just inside each structure: every one of them is needed.
    void truncated_data()
    {
        QTest::addColumn<int>("length");
        PeLayout l;
        buildPe(simpleVersionBlock("1.2.0.1"), {}, &l);
        QTest::newRow("empty file") << 0;
        QTest::newRow("inside DOS header") << 0x20;
        QTest::newRow("DOS header without PE header") << int(l.peHeader);
        QTest::newRow("inside PE signature") << int(l.peHeader + 2);
        QTest::newRow("inside COFF header") << int(l.coffHeader + 10);
        QTest::newRow("inside optional header") << int(l.optionalHeader + 50);
        QTest::newRow("before resource directory entry") << int(l.optionalHeader + 100);
        QTest::newRow("inside section table") << int(l.sectionTable + 50);
        QTest::newRow("at resource section") << int(l.resourceSection);
        QTest::newRow("inside type directory") << int(l.resourceSection + 10);
        QTest::newRow("inside name directory") << int(l.nameDirectory + 12);
        QTest::newRow("inside language directory") << int(l.languageDirectory + 20);
        QTest::newRow("inside data entry") << int(l.dataEntry + 6);
        QTest::newRow("at version block") << int(l.versionInfo);
        QTest::newRow("inside version header") << int(l.versionInfo + 4);
        QTest::newRow("inside fixed file info") << int(l.versionInfo + 60);
        QTest::newRow("one byte short") << int(l.end - 1);
    }
    void truncated()
    {
        QFETCH(int, length);
        const ByteVector image = buildPe(simpleVersionBlock("1.2.0.1"));
        QCOMPARE(version(prefix(image, std::size_t(length))), QString());
    }

    void everyShorterPrefixIsEmpty()
    {
        const ByteVector image = buildPe(simpleVersionBlock("1.2.0.1"));
        QCOMPARE(version(image), QStringLiteral("1.2.0.1"));
        for (std::size_t n = 0; n < image.size(); ++n)
            QVERIFY2(pe::fileVersion(prefix(image, n)).empty(), qPrintable(QStringLiteral("length %1").arg(n)));
    }

    // Damage one field of a good image; each must give empty, never a read past the data.
    void hostile_data()
    {
        QTest::addColumn<int>("field"); // offset to overwrite
        QTest::addColumn<int>("width");  // 2 or 4 bytes
        QTest::addColumn<uint>("value");
        PeLayout l;
        buildPe(simpleVersionBlock("1.2.0.1"), {}, &l);
        const int opt = int(l.optionalHeader);
        const int rsrcHeader = int(l.sectionTable) + 40;
        QTest::newRow("not MZ") << 0 << 2 << uint('Z' | 'M' << 8);
        QTest::newRow("PE offset far away") << 0x3C << 4 << 0xFFFFFFF0u;
        QTest::newRow("wrong PE signature") << int(l.peHeader) << 4 << 0x00004551u;
        QTest::newRow("unknown optional magic") << opt << 2 << 0x107u;
        QTest::newRow("optional header too small") << int(l.coffHeader) + 16 << 2 << 16u;
        QTest::newRow("few data directories") << opt + 92 << 4 << 2u;
        QTest::newRow("no resource directory") << opt + 96 + 16 << 4 << 0u;
        QTest::newRow("resource rva outside sections") << opt + 96 + 16 << 4 << 0x90000000u;
        QTest::newRow("huge section count") << int(l.coffHeader) + 2 << 2 << 0xFFFFu;
        QTest::newRow("section raw data past the file") << rsrcHeader + 20 << 4 << 0xFFFFFF00u;
        QTest::newRow("section raw size wraps") << rsrcHeader + 16 << 4 << 0xFFFFFFFFu;
        QTest::newRow("no version type") << int(l.resourceSection) + 16 << 4 << 3u;
        QTest::newRow("type points at data, not directory") << int(l.resourceSection) + 20 << 4 << 0x48u;
        QTest::newRow("type directory points at itself") << int(l.resourceSection) + 20 << 4 << 0x80000000u;
        QTest::newRow("directory offset past section") << int(l.resourceSection) + 20 << 4 << 0x8FFFFFFFu;
        QTest::newRow("language entry is a directory") << int(l.languageDirectory) + 20 << 4 << 0x80000000u;
        QTest::newRow("data entry past section") << int(l.languageDirectory) + 20 << 4 << 0x7FFFFFFFu;
        QTest::newRow("data rva outside sections") << int(l.dataEntry) << 4 << 0x100u;
        QTest::newRow("data size past the file") << int(l.dataEntry) + 4 << 4 << 0xFFFFFFu;
        QTest::newRow("version length past data") << int(l.versionInfo) << 2 << 0xFFFFu;
        QTest::newRow("version length below header") << int(l.versionInfo) << 2 << 4u;
        QTest::newRow("fixed info length past block") << int(l.versionInfo) + 2 << 2 << 0xFFFFu;
        QTest::newRow("first child length 0") << int(l.versionInfo) + 92 << 2 << 0u;
        QTest::newRow("first child runs past parent") << int(l.versionInfo) + 92 << 2 << 0xFFF0u;
    }
    void hostile()
    {
        QFETCH(int, field);
        QFETCH(int, width);
        QFETCH(uint, value);
        ByteVector image = buildPe(simpleVersionBlock("1.2.0.1"));
        if (width == 2)
            putU16(image, std::size_t(field), std::uint16_t(value));
        else
            putU32(image, std::size_t(field), value);
        QCOMPARE(version(image), QString());
    }

    void directoryScanStopsAtDataEnd()
    {
        // The version type is missing and the directory claims 65535 entries.
        PeLayout l;
        ByteVector image = buildPe(simpleVersionBlock("1.2.0.1"), {}, &l);
        putU32(image, l.resourceSection + 16, 3);
        putU16(image, l.resourceSection + 14, 0xFFFF);
        QCOMPARE(version(image), QString());
    }

    void keyWithoutTerminator()
    {
        // A root whose key runs to the end of the block.
        ByteVector block(32, 0);
        putU16(block, 0, 32);
        for (std::size_t i = 6; i < 32; i += 2)
            putU16(block, i, 'A');
        QCOMPARE(pe::fileVersionFromResource(block), std::string());
        QCOMPARE(pe::fileVersion(buildPe(block)), std::string());
    }

    void notAnExecutable_data()
    {
        QTest::addColumn<ByteVector>("bytes");
        QTest::newRow("text file") << ByteVector{'h', 'e', 'l', 'l', 'o'};
        QTest::newRow("64 zero bytes") << ByteVector(64, 0);
        QTest::newRow("MZ alone") << ByteVector{'M', 'Z'};
        ByteVector mz(64, 0);
        mz[0] = 'M';
        mz[1] = 'Z';
        QTest::newRow("MZ with PE offset 0") << mz;
    }
    void notAnExecutable()
    {
        QFETCH(ByteVector, bytes);
        QCOMPARE(version(bytes), QString());
    }
};

QTEST_APPLESS_MAIN(TestPeVersion)
#include "tst_peversion.moc"
