#include "codefile/codefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace irlearn;

namespace {

// Record k, byte j is (k * 31 + j * 7) & 0xFF: the pattern of tests/data/table16.bin.
QString patternRecord(int k, int bytes)
{
    QByteArray raw;
    for (int j = 0; j < bytes; ++j)
        raw.append(char((k * 31 + j * 7) & 0xFF));
    return QString::fromLatin1(raw.toHex().toUpper());
}

CodeTable patternTable()
{
    CodeTable table;
    for (int k = 0; k < tableRecords; ++k)
        table[k] = patternRecord(k, 257);
    table[16] = QStringLiteral("0BAD"); // never saved
    return table;
}

QStringList shortRecords(int count)
{
    QStringList records;
    for (int k = 0; k < count; ++k)
        records << patternRecord(k, 6);
    return records;
}

QByteArray joined(const QStringList &records, const char *end, bool lastEnd = true)
{
    QByteArray bytes = records.join(QLatin1String(end)).toLatin1();
    if (lastEnd)
        bytes += end;
    return bytes;
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
    void writeProducesFixtureAndLoadsBack();
    void writeReplacesExistingFile();
    void writeFailures();
    void writeCutShortLeavesExistingFile();
    void loadAccepts_data();
    void loadAccepts();
    void loadRefuses_data();
    void loadRefuses();
    void loadRefusesWholeFile();
    void fillKeepsOtherSlots();

private:
    QTemporaryDir m_dir;
};

void TstCodeFile::writeProducesFixtureAndLoadsBack()
{
    const CodeTable table = patternTable();
    const QString path = m_dir.filePath(QStringLiteral("saved.bin"));
    QString error;
    QVERIFY2(codefile::write(path, table, &error), qPrintable(error));

    const QByteArray written = contents(path);
    QCOMPARE(written, contents(QStringLiteral(IRLEARN_TEST_DATA "/table16.bin")));
    QCOMPARE(written, joined(QStringList(table.begin(), table.begin() + tableRecords), "\r\n"));

    const codefile::Loaded loaded = codefile::load(path);
    QVERIFY2(loaded.ok, qPrintable(loaded.reason));
    QCOMPARE(loaded.lines, QStringList(table.begin(), table.begin() + tableRecords));
}

void TstCodeFile::writeReplacesExistingFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.bin"));
    QVERIFY(put(path, QByteArray(20000, 'F')));

    CodeTable table;
    table[0] = QStringLiteral("00FF");
    QVERIFY(codefile::write(path, table, nullptr));
    QCOMPARE(contents(path), QByteArray("00FF\r\n") + QByteArray("\r\n").repeated(15));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.bin")});
}

void TstCodeFile::writeFailures()
{
    const CodeTable table = patternTable();
    QString error;
    QVERIFY(!codefile::write(QString(), table, &error));
    QVERIFY(!error.isEmpty());

    error.clear();
    const QString missing = m_dir.filePath(QStringLiteral("no-such-folder"));
    QVERIFY(!codefile::write(missing + QStringLiteral("/x.bin"), table, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFileInfo::exists(missing));

    // A full disk; the device node must also survive the attempt. As root /dev is writable, and
    // a fault that renamed a finished file over the target would destroy the system's own node,
    // so a private node of the same device is used whenever one can be made.
    QString full = QStringLiteral("/dev/full");
    const QString ownFull = m_dir.filePath(QStringLiteral("full"));
    if (::mknod(QFile::encodeName(ownFull).constData(), S_IFCHR | 0666, makedev(1, 7)) == 0)
        full = ownFull;
    error.clear();
    QVERIFY(!codefile::write(full, table, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo::exists(full) && !QFileInfo(full).isFile());
}

void TstCodeFile::writeCutShortLeavesExistingFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("keep.bin"));
    const QByteArray before("0102\r\n");
    QVERIFY(put(path, before));

    // Let the new file run out of room halfway, as on a filling disk.
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 4096;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool written = codefile::write(path, patternTable(), &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!written);
    QVERIFY(!error.isEmpty());
    QCOMPARE(contents(path), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("keep.bin")});
}

void TstCodeFile::loadAccepts_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("records");
    const QStringList sixteen = shortRecords(16);
    QTest::newRow("LF") << joined(sixteen, "\n") << sixteen;
    QTest::newRow("CR LF, no last end") << joined(sixteen, "\r\n", false) << sixteen;
    QTest::newRow("LF, no last end") << joined(sixteen, "\n", false) << sixteen;
    QTest::newRow("17 lines") << joined(shortRecords(17), "\r\n") << shortRecords(17);
    const QStringList lower =
        QString::fromLatin1(joined(sixteen, "\n", false)).toLower().split(u'\n');
    QTest::newRow("lower case") << joined(lower, "\r\n", false) << lower;
}

void TstCodeFile::loadAccepts()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, records);
    const QString path = m_dir.filePath(QStringLiteral("in.bin"));
    QVERIFY(put(path, bytes));
    const codefile::Loaded loaded = codefile::load(path);
    QVERIFY2(loaded.ok, qPrintable(loaded.reason));
    QCOMPARE(loaded.lines, records);
    QCOMPARE(loaded.badLine, 0);
}

void TstCodeFile::loadRefuses_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("badLine");
    const QStringList sixteen = shortRecords(16);
    auto with = [&](int line, const QString &text) {
        QStringList records = sixteen;
        records[line - 1] = text;
        return joined(records, "\r\n");
    };
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("10 lines") << joined(shortRecords(10), "\r\n") << 0;
    QTest::newRow("18 lines") << joined(shortRecords(18), "\r\n") << 0;
    QStringList ten = shortRecords(10);
    ten[2] = QStringLiteral("ABC");
    QTest::newRow("odd digits, 10 lines") << joined(ten, "\n") << 3;
    QTest::newRow("non-hex") << with(5, QStringLiteral("00G1")) << 5;
    QTest::newRow("trailing space") << with(9, QStringLiteral("0A0B ")) << 9;
    QTest::newRow("blank line") << with(7, QString()) << 7;
    QTest::newRow("two last ends") << joined(sixteen, "\r\n") + "\r\n" << 17;
    QTest::newRow("CR only") << joined(sixteen, "\r") << 1;
    QTest::newRow("binary") << QByteArray::fromHex("00FF1A0D0A7F80") << 1;
}

void TstCodeFile::loadRefuses()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, badLine);
    const QString path = m_dir.filePath(QStringLiteral("bad.bin"));
    QVERIFY(put(path, bytes));
    const codefile::Loaded loaded = codefile::load(path);
    QVERIFY(!loaded.ok);
    QCOMPARE(loaded.badLine, badLine);
    QVERIFY(loaded.lines.isEmpty());
    QVERIFY(!loaded.reason.isEmpty());
}

void TstCodeFile::loadRefusesWholeFile()
{
    const QString path = m_dir.filePath(QStringLiteral("big.bin"));
    // 16 lines of 65534 digits with CR LF fill exactly 1 MiB.
    QStringList lines(16, QString(65534, u'A'));
    QVERIFY(put(path, joined(lines, "\r\n")));
    QVERIFY(codefile::load(path).ok);

    lines.fill(QString(131072, u'A'));
    QVERIFY(put(path, joined(lines, "\r\n")));
    for (const QString &source : {path, QStringLiteral("/dev/zero"),
                                  m_dir.filePath(QStringLiteral("missing.bin")), m_dir.path()}) {
        const codefile::Loaded loaded = codefile::load(source);
        QVERIFY2(!loaded.ok, qPrintable(source));
        QCOMPARE(loaded.badLine, 0);
        QVERIFY(!loaded.reason.isEmpty());
    }
}

void TstCodeFile::fillKeepsOtherSlots()
{
    CodeTable table = patternTable();
    const CodeTable before = table;
    codefile::fill(table, shortRecords(10));
    for (int k = 0; k < 17; ++k)
        QCOMPARE(table[k], k < 10 ? shortRecords(10).at(k) : before[k]);

    codefile::fill(table, shortRecords(17));
    QCOMPARE(table[16], shortRecords(17).at(16));
}

QTEST_GUILESS_MAIN(TstCodeFile)
#include "tst_codefile.moc"
