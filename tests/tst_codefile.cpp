// Code files: the atomic write on a filling disk, the load rules and their reasons, and paths that
// are no regular file, for reading and for saving; the labels beside a code file and the library
// of labelled files. That nothing but a table the device can take is
// accepted (binary, CR-only line ends, ...) is the codefile fuzz target's, replayed on every build.
#include "codefile/codefile.h"
#include "codefile/tablelabels.h"
#include "codefile/tablelibrary.h"
#include "support/filesizelimit.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "base/settings.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

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

CodeTable patternTable(int shift = 0)
{
    const QStringList records = patternRecords(tableRecords + shift, 257).mid(shift);
    CodeTable table;
    std::copy(records.begin(), records.end(), table.begin());
    return table;
}

QJsonObject jsonAt(const QString &path)
{
    return QJsonDocument::fromJson(contents(path)).object();
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

TableLabels someLabels(const QString &brand, const QString &model)
{
    TableLabels labels;
    labels.brand = brand;
    labels.model = model;
    labels.remote = QStringLiteral("YB0F2");
    labels.notes = QStringLiteral("三楼会议室");
    labels.device = QStringLiteral("0001");
    labels.keys = {{QStringLiteral("开机"), KeyStatus::Tested},
                   {QStringLiteral("关机"), KeyStatus::Learned},
                   {QStringLiteral("制冷"), KeyStatus::Failed}};
    labels.commands = {{12, KeyStatus::Learned}};
    return labels;
}

} // namespace

class TstCodeFile : public QObject
{
    Q_OBJECT

private slots:
    void write()
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
    }

    void load_data()
    {
        // records: what a good file yields; badLine: the first bad line of a refused one (0: the
        // file as a whole); reason: the operator's words, where they are pinned down.
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("records");
        QTest::addColumn<int>("badLine");
        QTest::addColumn<QString>("reason");
        const QStringList sixteen = patternRecords(16, 257);
        const QStringList lower =
            QString::fromLatin1(joined(sixteen, "\n", false)).toLower().split(u'\n');
        auto with = [&](int line, const QString &text) {
            QStringList records = sixteen;
            if (line > records.size())
                records.append(text);
            else
                records[line - 1] = text;
            return joined(records, "\r\n");
        };
        const QString any;
        QTest::newRow("LF") << joined(sixteen, "\n") << sixteen << 0 << any;
        QTest::newRow("CR LF, no last end")
            << joined(sixteen, "\r\n", false) << sixteen << 0 << any;
        QTest::newRow("lower case, LF, no last end")
            << joined(lower, "\n", false) << lower << 0 << any;
        const QStringList seventeen = patternRecords(17, 257);
        QTest::newRow("17 lines") << joined(seventeen, "\r\n") << seventeen << 0 << any;
        // The 17th line is never sent: any even run of digits will do, up to the 1 MiB cap.
        QTest::newRow("short 17th") << with(17, QStringLiteral("0bad"))
                                    << sixteen + QStringList{QStringLiteral("0bad")} << 0 << any;
        const QString filler(1024 * 1024 - 16 * 516 - 2, u'A');
        QTest::newRow("1 MiB") << with(17, filler) << sixteen + QStringList{filler} << 0 << any;

        const QStringList none;
        QTest::newRow("empty") << QByteArray() << none << 0 << QStringLiteral("文件为空");
        QTest::newRow("10 lines") << joined(patternRecords(10, 257), "\r\n") << none << 0
                                  << QStringLiteral("行数为10，应为16或17行");
        // A file that is no table at all is told so before its records are measured.
        QTest::newRow("10 short lines") << joined(patternRecords(10, 4), "\r\n") << none << 0
                                        << QStringLiteral("行数为10，应为16或17行");
        QTest::newRow("18 lines") << joined(patternRecords(18, 257), "\r\n") << none << 0 << any;
        QTest::newRow("over 1 MiB") << with(17, filler + QStringLiteral("AA")) << none << 0
                                    << QStringLiteral("文件过大（超过1 MiB）");
        QTest::newRow("record short")
            << with(3, sixteen.at(2).left(512)) << none << 3
            << QStringLiteral("第3行有512个十六进制数字，应为514个（257字节）");
        QTest::newRow("record long")
            << with(16, sixteen.at(15) + QStringLiteral("00")) << none << 16
            << QStringLiteral("第16行有516个十六进制数字，应为514个（257字节）");
        QTest::newRow("odd 17th") << with(17, QStringLiteral("ABC")) << none << 17
                                  << QStringLiteral("第17行不是偶数个十六进制数字");
        QTest::newRow("non-hex") << with(5, sixteen.at(4).left(513) + u'G') << none << 5
                                 << QStringLiteral("第5行含有非十六进制字符");
        QTest::newRow("two last ends") << joined(sixteen, "\r\n") + "\r\n"
                                       << none << 17 << QStringLiteral("第17行为空");
    }

    void load()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, records);
        QFETCH(int, badLine);
        QFETCH(QString, reason);
        const QString path = m_dir.filePath(QStringLiteral("in.bin"));
        QVERIFY(put(path, bytes));
        const codefile::Loaded loaded = codefile::load(path);
        QVERIFY2(loaded.ok == !records.isEmpty(), qPrintable(loaded.reason));
        QCOMPARE(loaded.lines, records);
        QCOMPARE(loaded.badLine, badLine);
        QCOMPARE(loaded.reason.isEmpty(), loaded.ok);
        if (!reason.isEmpty())
            QCOMPARE(loaded.reason, reason);
    }

    void loadRefusesWhatCannotBeRead()
    {
        const QString fifo = m_dir.filePath(QStringLiteral("fifo.bin"));
        const QString loop = m_dir.filePath(QStringLiteral("loop.bin"));
        const QString zero = m_dir.filePath(QStringLiteral("zero.bin"));
        const QString locked = m_dir.filePath(QStringLiteral("locked.bin"));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(QFile::link(loop, loop));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));
        QVERIFY(QFile::copy(QStringLiteral(IRLEARN_TEST_DATA "/table16.bin"), locked));
        QVERIFY(QFile::setPermissions(locked, QFileDevice::WriteOwner));

        const struct
        {
            QString path;
            QString reason;
        } cases[] = {
            // Neither a pipe without writer nor a device without end may hold the window.
            {fifo, QStringLiteral("这是命名管道，不是普通文件")},
            {QStringLiteral("/dev/zero"), QStringLiteral("这是设备文件，不是普通文件")},
            {zero, QStringLiteral("这是设备文件，不是普通文件")},
            {loop, QStringLiteral("符号链接循环，找不到文件")},
            {m_dir.filePath(QStringLiteral("missing.bin")), QStringLiteral("文件不存在")},
            {m_dir.path(), QStringLiteral("这是文件夹，不是文件")},
            // Permissions do not bind root, who reads the file as it is.
            {locked, geteuid() == 0 ? QString() : QStringLiteral("没有读取权限")},
        };
        for (const auto &c : cases) {
            const codefile::Loaded loaded = codefile::load(c.path);
            QVERIFY2(loaded.ok == c.reason.isEmpty(), qPrintable(c.path));
            QCOMPARE(loaded.reason, c.reason);
            QCOMPARE(loaded.badLine, 0);
        }
    }

    void writeRefusesWhatIsNoFile()
    {
        const CodeTable table;
        QString error;
        // A pipe is refused whether or not a reader waits: without one the open would block for
        // good, with one the table would go to whoever reads.
        const QString fifo = m_dir.filePath(QStringLiteral("out.fifo"));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        QVERIFY(!codefile::write(fifo, table, &error));
        QCOMPARE(error, QStringLiteral("这是命名管道，不能保存到这里"));
        char byte = 0;
        QCOMPARE(::read(reader, &byte, 1), ssize_t(0)); // nothing came through
        ::close(reader);
        error.clear();
        QVERIFY(!codefile::write(fifo, table, &error));
        QCOMPARE(error, QStringLiteral("这是命名管道，不能保存到这里"));

        const QString socketPath = m_dir.filePath(QStringLiteral("out.sock"));
        const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(socketPath);
        QVERIFY(size_t(native.size()) < sizeof(address.sun_path));
        std::copy(native.begin(), native.end(), address.sun_path);
        QCOMPARE(::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
        QVERIFY(!codefile::write(socketPath, table, &error));
        QCOMPARE(error, QStringLiteral("这是套接字，不能保存到这里"));
        ::close(sock);

        QVERIFY(!codefile::write(m_dir.path(), table, &error));
        QCOMPARE(error, QStringLiteral("这是文件夹，不能保存为文件"));
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(fifo).constData(), &st) == 0 && S_ISFIFO(st.st_mode));

        // Devices are written in place.
        QVERIFY2(codefile::write(QStringLiteral("/dev/null"), table, &error), qPrintable(error));
        error.clear();
        QVERIFY(!codefile::write(QStringLiteral("/dev/full"), table, &error));
        QVERIFY(!error.isEmpty());
    }

    // A save writes the code file exactly as before and the labels beside it: every field as
    // documented, the hashes computed here independently, read back equal; unknown fields of
    // the file survive a rewrite; no label file follows a code file that was not written.
    void labelsRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("gree.bin"));
        const CodeTable table = patternTable();
        const labels::Saved saved = labels::save(
            path, table, someLabels(QStringLiteral("格力"), QStringLiteral("KFR-35GW")));
        QVERIFY2(saved.tableWritten && saved.labelsWritten, qPrintable(saved.error));
        QCOMPARE(contents(path), contents(QStringLiteral(IRLEARN_TEST_DATA "/table16.bin")));

        const QString jsonPath = path + QStringLiteral(".json");
        QJsonObject json = jsonAt(jsonPath);
        QCOMPARE(json.value(QStringLiteral("format")).toString(), QStringLiteral("irlearn-table"));
        QCOMPARE(json.value(QStringLiteral("version")).toInt(), 1);
        QCOMPARE(json.value(QStringLiteral("brand")).toString(), QStringLiteral("格力"));
        QCOMPARE(json.value(QStringLiteral("notes")).toString(), QStringLiteral("三楼会议室"));
        QCOMPARE(json.value(QStringLiteral("device")).toString(), QStringLiteral("0001"));
        QVERIFY(QRegularExpression(
                    QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$"))
                    .match(json.value(QStringLiteral("saved")).toString())
                    .hasMatch());
        QCOMPARE(json.value(QStringLiteral("keys")).toObject(),
                 (QJsonObject{{QStringLiteral("开机"), QStringLiteral("tested")},
                              {QStringLiteral("关机"), QStringLiteral("learned")},
                              {QStringLiteral("制冷"), QStringLiteral("failed")}}));
        QCOMPARE(json.value(QStringLiteral("commands")).toObject(),
                 (QJsonObject{{QStringLiteral("12"), QStringLiteral("learned")}}));
        QCOMPARE(json.value(QStringLiteral("sha256")).toString(), sha256Hex(contents(path)));
        const QJsonArray records = json.value(QStringLiteral("records")).toArray();
        QCOMPARE(records.size(), 16);
        for (int r = 0; r < 16; ++r)
            QCOMPARE(records.at(r).toString(),
                     sha256Hex(QByteArray::fromHex(table[std::size_t(r)].toLatin1())));

        labels::Labelled loaded = labels::load(path);
        QVERIFY(loaded.file.ok);
        QCOMPARE(loaded.labels.state, labels::Check::Valid);
        QCOMPARE(loaded.labels.labels.model, QStringLiteral("KFR-35GW"));
        QCOMPARE(loaded.labels.labels.keysLearnt(), 2);
        QCOMPARE(loaded.labels.labels.keysTested(), 1);
        QCOMPARE(loaded.labels.labels.commands.value(12), KeyStatus::Learned);
        QCOMPARE(labels::toJson(loaded.labels.labels), contents(jsonPath));

        // Another tool's field, then the labels changed: the field stays, the change lands.
        json.insert(QStringLiteral("x-installer"), QJsonObject{{QStringLiteral("site"), 7}});
        QVERIFY(put(jsonPath, QJsonDocument(json).toJson()));
        TableLabels changed = labels::load(path).labels.labels;
        changed.unknown = {};
        changed.brand = QStringLiteral("美的");
        QString error;
        QVERIFY2(labels::write(path, changed, &error), qPrintable(error));
        json = jsonAt(jsonPath);
        QCOMPARE(json.value(QStringLiteral("brand")).toString(), QStringLiteral("美的"));
        QCOMPARE(json.value(QStringLiteral("x-installer")).toObject().value(QStringLiteral("site")),
                 QJsonValue(7));
        QCOMPARE(labels::load(path).labels.state, labels::Check::Valid);

        // The code file fails: neither it nor its labels change.
        const QByteArray before = contents(jsonPath);
        labels::Saved failed;
        {
            const FileSizeLimit limit(4096);
            QVERIFY(limit.active());
            failed = labels::save(path, patternTable(1), someLabels({}, {}));
        }
        QVERIFY(!failed.tableWritten && !failed.labelsWritten);
        QCOMPARE(contents(jsonPath), before);
        const QString nowhere = dir.filePath(QStringLiteral("none/x.bin"));
        QVERIFY(!labels::save(nowhere, table, {}).tableWritten);
        QVERIFY(!QFileInfo::exists(nowhere + QStringLiteral(".json")));
    }

    void labelRefusals_data()
    {
        // edit: what happens to the labelled pair; state: what the check says; changed: the
        // records it names.
        QTest::addColumn<QString>("edit");
        QTest::addColumn<int>("state");
        QTest::addColumn<QList<int>>("changed");
        QTest::addColumn<bool>("fileMatches");
        QTest::newRow("untouched") << "" << int(labels::Check::Valid) << QList<int>() << true;
        QTest::newRow("records 3 and 16 changed")
            << "records" << int(labels::Check::Mismatch) << QList<int>{3, 16} << false;
        QTest::newRow("same records, LF ends")
            << "lf" << int(labels::Check::Mismatch) << QList<int>() << false;
        QTest::newRow("labels' hash edited")
            << "hash" << int(labels::Check::Mismatch) << QList<int>{5} << true;
        QTest::newRow("no label file")
            << "missing" << int(labels::Check::None) << QList<int>() << false;
        QTest::newRow("damaged JSON")
            << "truncated" << int(labels::Check::Damaged) << QList<int>() << false;
        QTest::newRow("foreign JSON")
            << "foreign" << int(labels::Check::Damaged) << QList<int>() << false;
        QTest::newRow("15 records")
            << "short" << int(labels::Check::Damaged) << QList<int>() << false;
        QTest::newRow("unknown status")
            << "status" << int(labels::Check::Damaged) << QList<int>() << false;
        QTest::newRow("folder") << "folder" << int(labels::Check::Damaged) << QList<int>() << false;
    }

    // However the labels disagree or fail, the code file itself stays usable.
    void labelRefusals()
    {
        QFETCH(QString, edit);
        QFETCH(int, state);
        QFETCH(QList<int>, changed);
        QFETCH(bool, fileMatches);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.bin"));
        const QString jsonPath = labels::pathFor(path);
        QVERIFY(
            labels::save(path, patternTable(), someLabels(QStringLiteral("A"), {})).labelsWritten);
        QJsonObject json = jsonAt(jsonPath);
        if (edit == QLatin1String("records")) {
            CodeTable table = patternTable();
            table[2][100] = table[2][100] == u'0' ? u'1' : u'0';
            table[15] = patternTable(1)[15];
            QVERIFY(codefile::write(path, table, nullptr));
        } else if (edit == QLatin1String("lf")) {
            QVERIFY(put(path, contents(path).replace("\r\n", "\n")));
        } else if (edit == QLatin1String("hash")) {
            QJsonArray records = json.value(QStringLiteral("records")).toArray();
            records[4] = QString(64, u'0');
            json.insert(QStringLiteral("records"), records);
        } else if (edit == QLatin1String("missing")) {
            QVERIFY(QFile::remove(jsonPath));
        } else if (edit == QLatin1String("truncated")) {
            QVERIFY(put(jsonPath, contents(jsonPath).left(100)));
        } else if (edit == QLatin1String("foreign")) {
            json.insert(QStringLiteral("format"), QStringLiteral("other-tool"));
        } else if (edit == QLatin1String("short")) {
            QJsonArray records = json.value(QStringLiteral("records")).toArray();
            records.removeLast();
            json.insert(QStringLiteral("records"), records);
        } else if (edit == QLatin1String("status")) {
            json.insert(QStringLiteral("keys"),
                        QJsonObject{{QStringLiteral("开机"), QStringLiteral("maybe")}});
        } else if (edit == QLatin1String("folder")) {
            QVERIFY(QFile::remove(jsonPath));
            QVERIFY(QDir().mkdir(jsonPath));
        }
        if (QStringList{QStringLiteral("hash"), QStringLiteral("foreign"), QStringLiteral("short"),
                        QStringLiteral("status")}
                .contains(edit))
            QVERIFY(put(jsonPath, QJsonDocument(json).toJson()));

        const labels::Labelled loaded = labels::load(path);
        QVERIFY(loaded.file.ok);
        QCOMPARE(loaded.file.lines.size(), 16);
        QCOMPARE(int(loaded.labels.state), state);
        QCOMPARE(loaded.labels.changedRecords, changed);
        if (state == labels::Check::Valid || state == labels::Check::Mismatch) {
            QCOMPARE(loaded.labels.fileMatches, fileMatches);
            QCOMPARE(loaded.labels.labels.brand, QStringLiteral("A"));
        }
        QCOMPARE(loaded.labels.reason.isEmpty(), state != labels::Check::Damaged);
    }

    // The library on a temporary folder: names from brand and model that never overwrite, the
    // search, the listing with its coverage, and which entry a table is.
    void library()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("library"));
        const TableLibrary lib(folder);
        QVERIFY(lib.entries().isEmpty());

        const QString gree = dir.filePath(QStringLiteral("gree.bin"));
        QVERIFY(labels::save(gree, patternTable(),
                             someLabels(QStringLiteral("Gree"), QStringLiteral("KFR-35GW/I")))
                    .labelsWritten);
        const TableLibrary::Added first = lib.add(gree);
        QVERIFY2(first.ok, qPrintable(first.error));
        QCOMPARE(first.entry.id, QStringLiteral("gree-kfr-35gw-i"));
        const TableLibrary::Added second = lib.add(gree);
        QCOMPARE(second.entry.id, QStringLiteral("gree-kfr-35gw-i-2"));
        QCOMPARE(contents(second.entry.path), contents(gree));
        QCOMPARE(second.entry.sha256, sha256Hex(contents(gree)));
        QCOMPARE(labels::load(second.entry.path).labels.state, labels::Check::Valid);

        // An unlabelled file, labelled as it goes in.
        const QString plain = dir.filePath(QStringLiteral("plain.bin"));
        QVERIFY(codefile::write(plain, patternTable(3), nullptr));
        TableLabels edits;
        edits.brand = QStringLiteral("美的");
        edits.model = QStringLiteral(" 小 1.5匹 ");
        const TableLibrary::Added midea = lib.add(plain, edits);
        QVERIFY2(midea.ok, qPrintable(midea.error));
        QCOMPARE(midea.entry.id, QStringLiteral("美的-小-1.5匹"));
        QCOMPARE(midea.entry.labels.model, QStringLiteral(" 小 1.5匹 "));
        QVERIFY(!QFileInfo::exists(labels::pathFor(plain)));

        // A changed file is refused, unless accepted as it is now.
        CodeTable changed = patternTable();
        changed[6] = patternTable(1)[6];
        QVERIFY(codefile::write(gree, changed, nullptr));
        const TableLibrary::Added refused = lib.add(gree);
        QVERIFY(!refused.ok);
        QVERIFY2(refused.error.contains(QStringLiteral("第7条")), qPrintable(refused.error));
        QVERIFY(lib.add(gree, {}, true).ok);
        QVERIFY(put(dir.filePath(QStringLiteral("library/junk.bin")), "not a table\r\n"));

        QStringList problems;
        const QList<TableLibrary::Entry> all = lib.entries(&problems);
        QStringList ids;
        for (const TableLibrary::Entry &e : all)
            ids << e.id;
        QCOMPARE(ids, (QStringList{
                          QStringLiteral("gree-kfr-35gw-i"), QStringLiteral("gree-kfr-35gw-i-2"),
                          QStringLiteral("gree-kfr-35gw-i-3"), QStringLiteral("美的-小-1.5匹")}));
        QCOMPARE(problems.size(), 1);
        QVERIFY(problems.constFirst().contains(QStringLiteral("junk.bin")));
        QCOMPARE(all.constFirst().labels.keysLearnt(), 2);
        QCOMPARE(all.constFirst().labels.keysTested(), 1);

        QCOMPARE(lib.search(QStringLiteral("gree 35GW")).size(), 3);
        QCOMPARE(lib.search(QStringLiteral("会议室 美的")).size(), 0);
        QCOMPARE(lib.search(QStringLiteral("1.5匹")).size(), 1);
        QCOMPARE(lib.search(QStringLiteral("yb0f2")).size(), 3);
        QVERIFY(lib.find(QStringLiteral("gree-kfr-35gw-i-2")).has_value());
        QVERIFY(!lib.find(QStringLiteral("../gree")).has_value());
        QVERIFY(!lib.find(QStringLiteral("junk")).has_value());

        TableLibrary::Match match = lib.identify(patternTable(3));
        QCOMPARE(match.kind, TableLibrary::Match::Exact);
        QCOMPARE(match.entry.id, QStringLiteral("美的-小-1.5匹"));
        CodeTable near = patternTable();
        near[1] = near[2];
        near[9] = near[10];
        match = lib.identify(near);
        QCOMPARE(match.kind, TableLibrary::Match::Closest);
        QCOMPARE(match.entry.id, QStringLiteral("gree-kfr-35gw-i"));
        QCOMPARE(match.differing.size(), 2);
        QCOMPARE(match.differing.at(0).record, 2);
        QCOMPARE(match.differing.at(1).record, 10);
        QCOMPARE(lib.identify(patternTable(20)).kind, TableLibrary::Match::Unknown);

        // The settings file names the folder; without it, the user's data folder.
        const QString ini = dir.filePath(QStringLiteral("VexoSet.ini"));
        QVERIFY(put(ini, "[Library]\r\nPath=" + folder.toUtf8() + "\r\n"));
        QCOMPARE(TableLibrary::folderIn(Settings(ini)), folder);
        QVERIFY(TableLibrary::folderIn(Settings(dir.filePath(QStringLiteral("none.ini"))))
                    .endsWith(QStringLiteral("/irlearn/library")));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TstCodeFile)
#include "tst_codefile.moc"
