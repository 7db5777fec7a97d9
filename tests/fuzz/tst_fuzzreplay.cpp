// Runs every fuzz target over its seeds, over mutations of them, over random bytes and over
// the saved corpus, a bounded number of times with fixed seeds, so the targets' properties
// are checked in every build, not only under clang's libFuzzer.
#include "fuzztargets.h"

#include <QtTest>

#include <random>

using namespace bramblet::fuzz;

using Input = std::vector<std::uint8_t>;

namespace {

const Target &targetNamed(const QString &name)
{
    for (const Target &t : Targets)
        if (name == QLatin1String(t.name))
            return t;
    qFatal("no fuzz target %s", qPrintable(name));
}

void run(const Target &t, const Input &input)
{
    // A copy of exactly the input's size, so a read past it is caught by the sanitizers.
    const Input copy(input);
    setCurrentInput(copy.data(), copy.size());
    t.run(copy.data(), copy.size());
    setCurrentInput(nullptr, 0);
}

Input mutate(const Input &seed, std::mt19937 &rng)
{
    Input m = seed;
    static const std::uint32_t interesting[] = {0, 1, 2, 3, 0x7F, 0x80, 0xFF, 0xFFFF, 0x7FFFFFFF, 0x80000000u,
                                                0xFFFFFFFFu, 24, 36, 65535};
    const int steps = 1 + int(rng() % 4);
    for (int s = 0; s < steps; ++s) {
        const std::size_t at = m.empty() ? 0 : rng() % m.size();
        switch (rng() % 7) {
        case 0:
            if (!m.empty())
                m[at] ^= std::uint8_t(1u << (rng() % 8));
            break;
        case 1:
            if (!m.empty())
                m[at] = std::uint8_t(rng());
            break;
        case 2: { // a 16- or 32-bit field set to an edge value
            const std::uint32_t v = interesting[rng() % std::size(interesting)];
            const std::size_t width = rng() % 2 ? 2 : 4;
            for (std::size_t k = 0; k < width && at + k < m.size(); ++k)
                m[at + k] = std::uint8_t(v >> (8 * k));
            break;
        }
        case 3:
            m.resize(m.empty() ? 0 : rng() % m.size());
            break;
        case 4: {
            const std::size_t n = 1 + rng() % 16;
            for (std::size_t k = 0; k < n; ++k)
                m.insert(m.begin() + std::ptrdiff_t(std::min(at, m.size())), std::uint8_t(rng()));
            break;
        }
        case 5:
            if (!m.empty())
                m.erase(m.begin() + std::ptrdiff_t(at),
                        m.begin() + std::ptrdiff_t(std::min(m.size(), at + 1 + rng() % 16)));
            break;
        default: // repeat a stretch, as a peer repeating itself would
            if (!m.empty() && m.size() < 200000) {
                const std::size_t n = std::min<std::size_t>(m.size() - at, 1 + rng() % 64);
                const Input stretch(m.begin() + std::ptrdiff_t(at), m.begin() + std::ptrdiff_t(at + n));
                m.insert(m.end(), stretch.begin(), stretch.end());
            }
            break;
        }
    }
    return m;
}

} // namespace

class TestFuzzReplay : public QObject {
    Q_OBJECT
private slots:
    void replay_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("count");
        for (const Target &t : Targets) {
            const QString name = QLatin1String(t.name);
            QTest::addRow("%s seeds", t.name) << name << "seeds" << 1;
            QTest::addRow("%s saved corpus", t.name) << name << "corpus" << 1;
            QTest::addRow("%s mutated seeds", t.name) << name << "mutated" << 1500;
            QTest::addRow("%s random bytes", t.name) << name << "random" << 3000;
        }
    }
    void replay()
    {
        QFETCH(QString, target);
        QFETCH(QString, kind);
        QFETCH(int, count);
        const Target &t = targetNamed(target);
        const auto seeds = bramblet::fuzz::seeds(t.name);
        QVERIFY(!seeds.empty());
        std::mt19937 rng(0xB5A3u + std::uint32_t(target.size()));
        int runs = 0;
        if (kind == u"seeds") {
            for (const Input &s : seeds) {
                run(t, s);
                ++runs;
            }
        } else if (kind == u"corpus") {
            const QDir dir(QStringLiteral(BRAMBLET_SOURCE_DIR "/tests/fuzz/corpus/") + target);
            const auto files = dir.entryInfoList(QDir::Files, QDir::Name);
            if (files.isEmpty())
                QSKIP("no saved corpus for this target");
            for (const QFileInfo &fi : files) {
                QFile f(fi.absoluteFilePath());
                QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(fi.absoluteFilePath()));
                const QByteArray b = f.readAll();
                run(t, Input(b.begin(), b.end()));
                ++runs;
            }
        } else if (kind == u"mutated") {
            for (int i = 0; i < count; ++i) {
                Input m = seeds[std::size_t(i) % seeds.size()];
                for (int deeper = int(rng() % 3); deeper >= 0; --deeper)
                    m = mutate(m, rng);
                run(t, m);
                ++runs;
            }
        } else {
            for (int i = 0; i < count; ++i) {
                Input r(rng() % 300);
                for (auto &b : r)
                    b = std::uint8_t(rng() % 4 == 0 ? rng() % 4 : rng()); // small values are the likely types
                run(t, r);
                ++runs;
            }
        }
        QVERIFY(runs > 0);
    }
};

QTEST_APPLESS_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
