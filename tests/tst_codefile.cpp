// Code files: the atomic write on a filling disk and to paths that are no regular file, the load
// rules and their reasons, the record comparison; the labels beside a code file and the library
// of labelled files. That nothing but a table the device can take is accepted (binary, CR-only
// line ends, ...) is the codefile fuzz target's, replayed on every build.
#include "codefile/codefile.h"
#include "codefile/tablecompare.h"
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
#include <QLocalServer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace irlearn;
using namespace Qt::StringLiterals;

namespace {

const QString fixture = QStringLiteral(IRLEARN_TEST_DATA "/table16.bin");

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

// The pattern's records shift to shift + 15.
CodeTable patternTable(int shift = 0)
{
    CodeTable table;
    codefile::fill(table, patternRecords(tableRecords + shift, 257).mid(shift));
    return table;
}

QJsonObject jsonAt(const QString &path)
{
    return QJsonDocument::fromJson(contents(path)).object();
}

void editJson(const QString &codePath, const std::function<void(QJsonObject &)> &edit)
{
    QJsonObject json = jsonAt(labels::pathFor(codePath));
    edit(json);
    QVERIFY(put(labels::pathFor(codePath), QJsonDocument(json).toJson()));
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

TableLabels someLabels(const QString &brand, const QString &model)
{
    const QMap<QString, KeyStatus> keys{{u"开机"_s, KeyStatus::Tested},
                                        {u"关机"_s, KeyStatus::Learned},
                                        {u"制冷"_s, KeyStatus::Failed}};
    return {brand,     model, u"YB0F2"_s, u"三楼会议室"_s,
            u"0001"_s, {},    keys,       {{12, KeyStatus::Learned}},
            {},        {},    {}};
}

using Edit = std::function<void(const QString &codePath)>;

} // namespace

Q_DECLARE_METATYPE(Edit)

class TstCodeFile : public QObject
{
    Q_OBJECT

private slots:
    // Paths that are no code file, made once for write() and the rows of load() that name one.
    void initTestCase()
    {
        QCOMPARE(mkfifo(QFile::encodeName(at("fifo.bin")).constData(), 0600), 0);
        QVERIFY(QFile::link(at("loop.bin"), at("loop.bin")));
        QVERIFY(QFile::copy(fixture, at("locked.bin")));
        QVERIFY(QFile::setPermissions(at("locked.bin"), QFileDevice::WriteOwner));
    }

    void write()
    {
        CodeTable table = patternTable();
        table[16] = u"0BAD"_s; // never saved

        // The new file runs out of room halfway, as on a filling disk: the old one survives whole.
        QTemporaryDir dir;
        const QString path = dir.filePath(u"saved.bin"_s);
        const QByteArray old(20000, 'F');
        QVERIFY(put(path, old));
        QString error;
        QCOMPARE(writtenUnder(4096, [&] { return codefile::write(path, table, &error); }), false);
        QVERIFY(!error.isEmpty());
        QCOMPARE(contents(path), old);

        // With room, it is replaced by exactly the fixture, and nothing else is left behind.
        QVERIFY2(codefile::write(path, table, &error), qPrintable(error));
        QCOMPARE(contents(path), contents(fixture));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"saved.bin"_s});

        // A pipe is refused even with a reader waiting, who would otherwise get the table (and
        // without one the open would block for good); so are a socket, a folder, a missing
        // folder and a device that fails. (That the pipe is still one: load()'s row.)
        const QString fifo = at("fifo.bin");
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        QLocalServer socket;
        QVERIFY(socket.listen(at("out.sock")));
        const struct
        {
            QString path;
            QString error; // empty: the system's words
        } refusals[] = {
            {fifo, u"这是命名管道，不能保存到这里"_s},
            {at("out.sock"), u"这是套接字，不能保存到这里"_s},
            {m_dir.path(), u"这是文件夹，不能保存为文件"_s},
            {at("no-such-folder/x.bin"), QString()},
            {u"/dev/full"_s, QString()},
        };
        for (const auto &r : refusals) {
            error.clear();
            QVERIFY2(!codefile::write(r.path, table, &error), qPrintable(r.path));
            QVERIFY2(!error.isEmpty() && (r.error.isEmpty() || error == r.error),
                     qPrintable(error));
        }
        char byte = 0;
        QCOMPARE(::read(reader, &byte, 1), ssize_t(0)); // nothing came through
        ::close(reader);
        // A device that takes the bytes is written in place.
        QVERIFY2(codefile::write(u"/dev/null"_s, table, &error), qPrintable(error));
    }

    void load_data()
    {
        // bytes: the file's contents, or path: a path made by initTestCase(); records: what a
        // good file yields; badLine: the first bad line of a refused one (0: the file as a
        // whole); reason: the operator's words, where they are pinned down.
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("path");
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
        const auto good = [](const char *row, const QByteArray &bytes, const QStringList &lines) {
            QTest::newRow(row) << bytes << QString() << lines << 0 << QString();
        };
        const auto bad = [](const char *row, const QByteArray &bytes, int line,
                            const QString &reason = {}) {
            QTest::newRow(row) << bytes << QString() << QStringList() << line << reason;
        };
        const auto odd = [](const char *row, const QString &path, const QString &reason) {
            QTest::newRow(row) << QByteArray() << path << QStringList() << 0 << reason;
        };
        good("LF", joined(sixteen, "\n"), sixteen);
        good("CR LF, no last end", joined(sixteen, "\r\n", false), sixteen);
        good("lower case, LF, no last end", joined(lower, "\n", false), lower);
        good("17 lines", joined(patternRecords(17, 257), "\r\n"), patternRecords(17, 257));
        // The 17th line is never sent: any even run of digits will do, up to the 1 MiB cap.
        good("short 17th", with(17, u"0bad"_s), sixteen + QStringList{u"0bad"_s});
        const QString filler(1024 * 1024 - 16 * 516 - 2, u'A');
        good("1 MiB", with(17, filler), sixteen + QStringList{filler});

        bad("empty", QByteArray(), 0, u"文件为空"_s);
        const QString tenLines = u"行数为10，应为16或17行"_s;
        bad("10 lines", joined(patternRecords(10, 257), "\r\n"), 0, tenLines);
        // A file that is no table at all is told so before its records are measured.
        bad("10 short lines", joined(patternRecords(10, 4), "\r\n"), 0, tenLines);
        bad("18 lines", joined(patternRecords(18, 257), "\r\n"), 0);
        bad("over 1 MiB", with(17, filler + u"AA"_s), 0, u"文件过大（超过1 MiB）"_s);
        bad("record short", with(3, sixteen.at(2).left(512)), 3,
            u"第3行有512个十六进制数字，应为514个（257字节）"_s);
        bad("record long", with(16, sixteen.at(15) + u"00"_s), 16,
            u"第16行有516个十六进制数字，应为514个（257字节）"_s);
        bad("odd 17th", with(17, u"ABC"_s), 17, u"第17行不是偶数个十六进制数字"_s);
        // Letters past F in either case: read as digits they would send bytes nobody wrote.
        for (const char letter : {'G', 'g', 'n', 'z', 'Z'})
            bad(QByteArray("non-hex ").append(letter).constData(),
                with(5, sixteen.at(4).left(512) + u'0' + QLatin1Char(letter)), 5,
                u"第5行含有非十六进制字符"_s);
        bad("two last ends", joined(sixteen, "\r\n") + "\r\n", 17, u"第17行为空"_s);

        // Neither a pipe without writer nor a device without end may hold the window. (A link to a
        // device: tst_settings.)
        odd("pipe", at("fifo.bin"), u"这是命名管道，不是普通文件"_s);
        odd("device", u"/dev/zero"_s, u"这是设备文件，不是普通文件"_s);
        odd("link loop", at("loop.bin"), u"符号链接循环，找不到文件"_s);
        odd("missing", at("missing.bin"), u"文件不存在"_s);
        odd("folder", m_dir.path(), u"这是文件夹，不是文件"_s);
        // Permissions do not bind root, who reads the file as it is.
        if (::geteuid() != 0)
            odd("unreadable", at("locked.bin"), u"没有读取权限"_s);
    }

    void load()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, path);
        QFETCH(QStringList, records);
        QFETCH(int, badLine);
        QFETCH(QString, reason);
        if (path.isEmpty()) {
            path = at("in.bin");
            QVERIFY(put(path, bytes));
        }
        const codefile::Loaded loaded = codefile::load(path);
        QVERIFY2(loaded.ok == !records.isEmpty(), qPrintable(loaded.reason));
        QCOMPARE(loaded.lines, records);
        QCOMPARE(loaded.badLine, badLine);
        QCOMPARE(loaded.reason.isEmpty(), loaded.ok);
        if (!reason.isEmpty())
            QCOMPARE(loaded.reason, reason);
        // The operator reads the refusal, the path and the reason; a good file says nothing.
        const QString message = loaded.ok ? QString()
                                          : u"红外指令文件不能下载：%1\n%2"_s.arg(
                                                QDir::toNativeSeparators(path), loaded.reason);
        QCOMPARE(codefile::load(path, codefile::notForDownload).message, message);
    }

    // Records compare by the bytes they spell: a file written in lower case verifies against the
    // upper-case table a device returns and sums the same; a changed byte, a short record and a
    // missing one are each found at their first differing byte.
    void compareTables()
    {
        const CodeTable device = patternTable();
        CodeTable fromFile;
        codefile::fill(fromFile,
                       codefile::parse(joined(patternRecords(16, 257), "\r\n").toLower()).lines);
        QCOMPARE(tables::compare(fromFile, device).size(), 0);
        QCOMPARE(tables::sha256(fromFile), tables::sha256(device));

        CodeTable changed = device;
        changed[2].replace(10, 2, u"00"_s); // the pattern has 61 there
        changed[6].chop(4);
        changed[15].clear();
        changed[16] = u"FF"_s;            // never sent, never compared
        QList<std::pair<int, int>> found; // record, first differing byte
        for (const tables::RecordDifference &d : tables::compare(fromFile, changed))
            found << std::make_pair(d.record, d.firstByte);
        QCOMPARE(found, (QList<std::pair<int, int>>{{3, 5}, {7, 255}, {16, 0}}));
        QVERIFY(tables::sha256(changed) != tables::sha256(device));
    }

    // A save writes the code file exactly as before and the labels beside it: every field as
    // documented, the hashes computed here independently, read back equal; unknown fields of
    // the file survive a rewrite; no label file follows a code file that was not written.
    void labelsRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"gree.bin"_s);
        const CodeTable table = patternTable();
        const labels::Saved saved = labels::save(path, table, someLabels(u"格力"_s, u"KFR-35GW"_s));
        QVERIFY2(saved.tableWritten && saved.labelsWritten, qPrintable(saved.error));
        QCOMPARE(contents(path), contents(fixture));

        const QString jsonPath = path + u".json"_s;
        QJsonObject json = jsonAt(jsonPath);
        QVERIFY(json.take(u"saved"_s)
                    .toString()
                    .contains(QRegularExpression(
                        u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$"_s)));
        QJsonArray records;
        for (int r = 0; r < 16; ++r)
            records << sha256Hex(QByteArray::fromHex(table[std::size_t(r)].toLatin1()));
        QJsonObject expected = QJsonDocument::fromJson(R"({"format": "irlearn-table", "version": 1,
            "brand": "格力", "model": "KFR-35GW", "remote": "YB0F2", "notes": "三楼会议室",
            "device": "0001", "keys": {"开机": "tested", "关机": "learned", "制冷": "failed"},
            "commands": {"12": "learned"}})")
                                   .object();
        expected.insert(u"records"_s, records);
        expected.insert(u"sha256"_s, sha256Hex(contents(path)));
        QCOMPARE(json, expected);

        // Read back, the labels write the very same file again.
        QCOMPARE(labels::toJson(labels::load(path).labels.labels), contents(jsonPath));

        // Another tool's field, then the labels changed: the field stays, the change lands.
        editJson(path, [](QJsonObject &json) {
            json.insert(u"x-installer"_s, QJsonObject{{u"site"_s, 7}});
        });
        TableLabels changed = labels::load(path).labels.labels;
        changed.unknown = {};
        changed.brand = u"美的"_s;
        QString error;
        QVERIFY2(labels::write(path, changed, &error), qPrintable(error));
        json = jsonAt(jsonPath);
        QCOMPARE(json.value(u"brand"_s).toString(), u"美的"_s);
        QCOMPARE(json.value(u"x-installer"_s).toObject().value(u"site"_s), QJsonValue(7));
        QCOMPARE(labels::load(path).labels.state, labels::Check::Valid);

        // The code file fails: neither it nor its labels change.
        const QByteArray before = contents(jsonPath);
        const auto save = [&] {
            const labels::Saved s = labels::save(path, patternTable(1), someLabels({}, {}));
            return s.tableWritten || s.labelsWritten;
        };
        QCOMPARE(writtenUnder(4096, save), false);
        QCOMPARE(contents(jsonPath), before);
    }

    void labelRefusals_data()
    {
        // edit: what happens to the labelled pair; state: what the check says; changed: the
        // records it names; fileMatches: whether the whole file's hash still agrees.
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<int>("state");
        QTest::addColumn<QList<int>>("changed");
        QTest::addColumn<bool>("fileMatches");
        using Check = labels::Check;
        const auto row = [](const char *name, const Edit &edit, Check::State state,
                            const QList<int> &changed = {}, bool fileMatches = false) {
            QTest::newRow(name) << edit << int(state) << changed << fileMatches;
        };
        const auto json = [](const std::function<void(QJsonObject &)> &change) {
            return Edit([change](const QString &path) { editJson(path, change); });
        };
        const auto labelFile = [](const Edit &change) {
            return Edit([change](const QString &path) { change(labels::pathFor(path)); });
        };
        row("untouched", Edit(), Check::Valid, {}, true);
        const auto changeRecords = [](const QString &path) {
            CodeTable table = patternTable();
            table[2][100] = table[2][100] == u'0' ? u'1' : u'0';
            table[15] = patternTable(1)[15];
            QVERIFY(codefile::write(path, table, nullptr));
        };
        row("records 3 and 16 changed", changeRecords, Check::Mismatch, {3, 16});
        const auto lineFeeds = [](const QString &path) {
            QVERIFY(put(path, contents(path).replace("\r\n", "\n")));
        };
        row("same records, LF ends", lineFeeds, Check::Mismatch);
        const auto zeroHash = [](QJsonObject &j) {
            QJsonArray records = j.value(u"records"_s).toArray();
            records[4] = QString(64, u'0');
            j.insert(u"records"_s, records);
        };
        row("labels' hash edited", json(zeroHash), Check::Mismatch, {5}, true);
        row("no label file", labelFile([](const QString &p) { QVERIFY(QFile::remove(p)); }),
            Check::None);
        row("damaged JSON",
            labelFile([](const QString &p) { QVERIFY(put(p, contents(p).left(100))); }),
            Check::Damaged);
        row("foreign JSON", json([](QJsonObject &j) { j.insert(u"format"_s, u"other-tool"_s); }),
            Check::Damaged);
        row("unknown status", json([](QJsonObject &j) {
                j.insert(u"keys"_s, QJsonObject{{u"开机"_s, u"maybe"_s}});
            }),
            Check::Damaged);
        row("folder",
            labelFile([](const QString &p) { QVERIFY(QFile::remove(p) && QDir().mkdir(p)); }),
            Check::Damaged);
    }

    // However the labels disagree or fail, the code file itself stays usable.
    void labelRefusals()
    {
        QFETCH(Edit, edit);
        QFETCH(int, state);
        QFETCH(QList<int>, changed);
        QFETCH(bool, fileMatches);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"t.bin"_s);
        QVERIFY(labels::save(path, patternTable(), someLabels(u"A"_s, {})).labelsWritten);
        if (edit)
            edit(path);

        const labels::Labelled loaded = labels::load(path);
        QVERIFY(loaded.file.ok);
        QCOMPARE(int(loaded.labels.state), state);
        QCOMPARE(loaded.labels.changedRecords, changed);
        QCOMPARE(loaded.labels.fileMatches, fileMatches);
        if (state == labels::Check::Valid || state == labels::Check::Mismatch)
            QCOMPARE(loaded.labels.labels.brand, u"A"_s);
        QCOMPARE(loaded.labels.reason.isEmpty(), state != labels::Check::Damaged);
    }

    // The library on a temporary folder: names from brand and model that never overwrite, the
    // search, the listing with its coverage, and which entry a table is.
    void library()
    {
        QTemporaryDir dir;
        const TableLibrary lib(dir.filePath(u"library"_s));
        QVERIFY(lib.entries().isEmpty());

        const QString gree = dir.filePath(u"gree.bin"_s);
        QVERIFY(labels::save(gree, patternTable(), someLabels(u"Gree"_s, u"KFR-35GW/I"_s))
                    .labelsWritten);
        QCOMPARE(lib.add(gree).entry.id, u"gree-kfr-35gw-i"_s);
        const TableLibrary::Added second = lib.add(gree);
        QCOMPARE(second.entry.id, u"gree-kfr-35gw-i-2"_s);
        QCOMPARE(second.entry.sha256, sha256Hex(contents(gree)));
        QCOMPARE(labels::load(second.entry.path).labels.state, labels::Check::Valid);

        // An unlabelled file, labelled as it goes in.
        const QString plain = dir.filePath(u"plain.bin"_s);
        QVERIFY(codefile::write(plain, patternTable(3), nullptr));
        TableLabels edits;
        edits.brand = u"美的"_s;
        edits.model = u" 小 1.5匹 "_s;
        const TableLibrary::Added midea = lib.add(plain, edits);
        QVERIFY2(midea.ok, qPrintable(midea.error));
        QCOMPARE(midea.entry.id, u"美的-小-1.5匹"_s);
        QCOMPARE(midea.entry.labels.model, u" 小 1.5匹 "_s);
        QVERIFY(!QFileInfo::exists(labels::pathFor(plain)));

        // A changed file is refused, unless accepted as it is now.
        CodeTable changed = patternTable();
        changed[6] = patternTable(1)[6];
        QVERIFY(codefile::write(gree, changed, nullptr));
        const TableLibrary::Added refused = lib.add(gree);
        QVERIFY2(!refused.ok && refused.error.contains(u"第7条"_s), qPrintable(refused.error));
        QVERIFY(lib.add(gree, {}, true).ok);
        QVERIFY(put(dir.filePath(u"library/junk.bin"_s), "not a table\r\n"));

        QStringList problems;
        const QList<TableLibrary::Entry> all = lib.entries(&problems);
        QStringList ids;
        for (const TableLibrary::Entry &e : all)
            ids << e.id;
        QCOMPARE(ids, (QStringList{u"gree-kfr-35gw-i"_s, u"gree-kfr-35gw-i-2"_s,
                                   u"gree-kfr-35gw-i-3"_s, u"美的-小-1.5匹"_s}));
        QVERIFY(problems.size() == 1 && problems.constFirst().contains(u"junk.bin"_s));
        QVERIFY(all.constFirst().labels.keysLearnt() == 2 &&
                all.constFirst().labels.keysTested() == 1);

        QCOMPARE(lib.search(u"gree 35GW"_s).size(), 3);
        QCOMPARE(lib.search(u"会议室 美的"_s).size(), 0);
        QCOMPARE(lib.search(u"yb0f2"_s).size(), 3);
        QVERIFY(lib.find(u"gree-kfr-35gw-i-2"_s).has_value());
        QVERIFY(!lib.find(u"../gree"_s).has_value());
        QVERIFY(!lib.find(u"junk"_s).has_value());

        TableLibrary::Match match = lib.identify(patternTable(3));
        QCOMPARE(match.kind, TableLibrary::Match::Exact);
        QCOMPARE(match.entry.id, u"美的-小-1.5匹"_s);
        CodeTable near = patternTable();
        near[1] = near[2];
        near[9] = near[10];
        match = lib.identify(near);
        QCOMPARE(match.kind, TableLibrary::Match::Closest);
        QCOMPARE(match.entry.id, u"gree-kfr-35gw-i"_s);
        QVERIFY(match.differing.size() == 2 && match.differing.at(0).record == 2 &&
                match.differing.at(1).record == 10);
        QCOMPARE(lib.identify(patternTable(20)).kind, TableLibrary::Match::Unknown);
    }

private:
    QString at(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TstCodeFile)
#include "tst_codefile.moc"
