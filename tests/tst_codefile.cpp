#include "codefile/codefile.h"
#include "support/filesizelimit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace irlearn;

namespace {

// Record k, byte j is (k * 31 + j * 7) & 0xFF: the pattern of tests/data/table16.bin.
QStringList patternRecords(int count, int bytes)
{
    QStringList records;
    for (int k = 0; k < count; ++k) {
        QByteArray raw;
        for (int j = 0; j < bytes; ++j)
            raw.append(char((k * 31 + j * 7) & 0xFF));
        records << QString::fromLatin1(raw.toHex().toUpper());
    }
    return records;
}

QByteArray joined(const QStringList &records, const char *end, bool lastEnd = true)
{
    return records.join(QLatin1String(end)).toLatin1() + (lastEnd ? end : "");
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TstCodeFile : public QObject
{
    Q_OBJECT

private slots:
    void write();
    void load_data();
    void load();
    void loadRefusesWhatCannotBeRead();

private:
    QTemporaryDir m_dir;
};

void TstCodeFile::write()
{
    QTemporaryDir dir;
    const QStringList records = patternRecords(tableRecords, 257);
    CodeTable table;
    std::copy(records.begin(), records.end(), table.begin());
    table[16] = QStringLiteral("0BAD"); // never saved
    const QString missing = dir.filePath(QStringLiteral("no-such-folder"));
    QString error;
    QVERIFY(!codefile::write(missing + QStringLiteral("/x.bin"), table, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFileInfo::exists(missing));

    // The new file runs out of room halfway, as on a filling disk: the old one survives whole.
    const QString path = dir.filePath(QStringLiteral("saved.bin"));
    const QByteArray old(20000, 'F');
    QVERIFY(put(path, old));
    bool written = true;
    {
        const FileSizeLimit limit(4096);
        QVERIFY(limit.active());
        error.clear();
        written = codefile::write(path, table, &error);
    }
    QVERIFY(!written);
    QVERIFY(!error.isEmpty());
    QCOMPARE(contents(path), old);

    // With room, it is replaced by exactly the fixture, and nothing else is left behind.
    QVERIFY2(codefile::write(path, table, &error), qPrintable(error));
    QCOMPARE(contents(path), contents(QStringLiteral(IRLEARN_TEST_DATA "/table16.bin")));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("saved.bin")});
    const codefile::Loaded loaded = codefile::load(path);
    QVERIFY2(loaded.ok, qPrintable(loaded.reason));
    QCOMPARE(loaded.lines, records);
}

void TstCodeFile::load_data()
{
    // records: what a good file yields; badLine: the first bad line of a refused one (0: the
    // file as a whole).
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<int>("badLine");
    const QStringList sixteen = patternRecords(16, 6);
    const QStringList lower =
        QString::fromLatin1(joined(sixteen, "\n", false)).toLower().split(u'\n');
    auto with = [&](int line, const QString &text) {
        QStringList records = sixteen;
        records[line - 1] = text;
        return joined(records, "\r\n");
    };
    QTest::newRow("LF") << joined(sixteen, "\n") << sixteen << 0;
    QTest::newRow("CR LF, no last end") << joined(sixteen, "\r\n", false) << sixteen << 0;
    QTest::newRow("lower case, LF, no last end") << joined(lower, "\n", false) << lower << 0;
    const QStringList seventeen = patternRecords(17, 6);
    QTest::newRow("17 lines") << joined(seventeen, "\r\n") << seventeen << 0;
    // 16 lines of 65534 digits with CR LF fill exactly 1 MiB.
    const QStringList full(16, QString(65534, u'A'));
    QTest::newRow("1 MiB") << joined(full, "\r\n") << full << 0;

    const QStringList none;
    QTest::newRow("empty") << QByteArray() << none << 0;
    QTest::newRow("10 lines") << joined(patternRecords(10, 6), "\r\n") << none << 0;
    QTest::newRow("18 lines") << joined(patternRecords(18, 6), "\r\n") << none << 0;
    QTest::newRow("over 1 MiB") << joined(QStringList(16, QString(65536, u'A')), "\r\n") << none
                                << 0;
    QStringList ten = patternRecords(10, 6);
    ten[2] = QStringLiteral("ABC");
    QTest::newRow("odd digits, 10 lines") << joined(ten, "\n") << none << 3;
    QTest::newRow("non-hex") << with(5, QStringLiteral("00G1")) << none << 5;
    QTest::newRow("two last ends") << joined(sixteen, "\r\n") + "\r\n" << none << 17;
    QTest::newRow("CR only") << joined(sixteen, "\r") << none << 1;
    QTest::newRow("binary") << QByteArray::fromHex("00FF1A0D0A7F80") << none << 1;
}

void TstCodeFile::load()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, records);
    QFETCH(int, badLine);
    const QString path = m_dir.filePath(QStringLiteral("in.bin"));
    QVERIFY(put(path, bytes));
    const codefile::Loaded loaded = codefile::load(path);
    QVERIFY2(loaded.ok == !records.isEmpty(), qPrintable(loaded.reason));
    QCOMPARE(loaded.lines, records);
    QCOMPARE(loaded.badLine, badLine);
    QCOMPARE(loaded.reason.isEmpty(), loaded.ok);
}

void TstCodeFile::loadRefusesWhatCannotBeRead()
{
    // A device without end must not be read whole.
    for (const QString &source : {QStringLiteral("/dev/zero"),
                                  m_dir.filePath(QStringLiteral("missing.bin")), m_dir.path()}) {
        const codefile::Loaded loaded = codefile::load(source);
        QVERIFY2(!loaded.ok && loaded.badLine == 0, qPrintable(source));
        QVERIFY(!loaded.reason.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TstCodeFile)
#include "tst_codefile.moc"
