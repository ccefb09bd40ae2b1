// Reading the device's code table, saving it as a code file and downloading a code file, through
// the real window on the simulated device.
#include "support/windowharness.h"

#include "workflows/session.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

namespace {

const QString noticeRead = QStringLiteral("正在读取数据，请稍等...");
const QString noticeWrite = QStringLiteral("正在写入数据，请稍等...");
const QString savedText = QStringLiteral("空调遥控指令保存完成！");
const QString boxTitle = QStringLiteral("系统提示");
const QString downloadDone = QStringLiteral("下载记录完成！");

// Records of random bytes as upper-case hex text, unlike the simulator's own tables.
QStringList makeRecords(quint32 seed, int count)
{
    QRandomGenerator gen(seed);
    QStringList records;
    for (int k = 0; k < count; ++k) {
        QByteArray data(257, '\0');
        for (char &c : data)
            c = char(gen.bounded(256));
        records << QString::fromLatin1(data.toHex().toUpper());
    }
    return records;
}

QByteArray codeFileBytes(const QStringList &lines, const QByteArray &eol = "\r\n")
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toLatin1() + eol;
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList tableSlots(const irlearn::CodeTable &table, int count = 16)
{
    QStringList result;
    for (int i = 0; i < count; ++i)
        result << table[std::size_t(i)];
    return result;
}

QStringList framesOut(const QStringList &opening, const QStringList &records)
{
    QStringList frames = opening;
    for (const QString &r : records)
        frames << r.toUpper();
    return frames;
}

const QStringList readOpening = {QStringLiteral("0001ED"), QStringLiteral("40"),
                                 QStringLiteral("50")};
const QStringList downloadOpening = {QStringLiteral("0001DD"), QStringLiteral("40"),
                                     QStringLiteral("50")};

// A file size limit for this process: writes past it fail with EFBIG, as they would on a full
// disk, whoever runs the test (root is not stopped by a read-only folder).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        if (getrlimit(RLIMIT_FSIZE, &m_old) != 0)
            return;
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        if (m_active)
            setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool active() const { return m_active; }

private:
    // Ignored first: past the limit the kernel would otherwise end the process.
    void (*m_handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit m_old{};
    bool m_active = false;
};

// Downloads path and waits for the completion line in the log.
bool download(WindowHarness &h, const QString &path)
{
    h.answerNextFileDialog(path);
    h.click(QStringLiteral("Command6"));
    return WindowHarness::waitFor([&] { return h.logLines().contains(downloadDone); }, 20000);
}

// Enters a path into the save box and clicks save; the text of the one box that follows.
QString saveTo(WindowHarness &h, const QString &path)
{
    const auto before = h.messages().size();
    h.child<QLineEdit>(QStringLiteral("Text5"))->setText(path);
    h.click(QStringLiteral("Command8"));
    if (h.messages().size() != before + 1)
        return QStringLiteral("<%1 boxes shown>").arg(h.messages().size() - before);
    return h.messages().constLast();
}

} // namespace

class CodeTableTest : public QObject
{
    Q_OBJECT

private slots:
    void readFillsTableThenSaves();
    void halfRecordIsNotARecord();
    void silentDeviceLeavesPanelClosed();
    void downloadSendsSixteenRecordsInOrder();
    void refusedRecordIsSentAgain();
    void cancelledOrBadFileSendsNothing();
    void savedTableDownloadsIntoAnotherDevice();
};

void CodeTableTest::readFillsTableThenSaves()
{
    SimProcess sim;
    QVERIFY(sim.start());
    const QStringList table = sim.storedTable();
    QCOMPARE(table.size(), 16);
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());

    auto *frame4 = h.child<QWidget>(QStringLiteral("Frame4"));
    auto *picture2 = h.child<QWidget>(QStringLiteral("Picture2"));
    auto *text5 = h.child<QLineEdit>(QStringLiteral("Text5"));
    auto *command8 = h.button(QStringLiteral("Command8"));
    // Left over from an earlier visit: opening the panel must reset both.
    text5->setText(QStringLiteral("/tmp/stale.bin"));
    command8->setEnabled(true);

    h.click(QStringLiteral("Command5"));
    QVERIFY(picture2->isVisible());
    QCOMPARE(h.child<QLabel>(QStringLiteral("Label3"))->text(), noticeRead);
    QVERIFY(WindowHarness::waitFor([&] { return frame4->isVisible(); }, 20000));

    QVERIFY(!picture2->isVisible());
    QCOMPARE(frame4->parentWidget()->objectName(), QStringLiteral("Frame2"));
    QCOMPARE(frame4->pos(), QPoint(64, 224));
    QVERIFY(text5->text().isEmpty());
    QVERIFY(!command8->isEnabled());
    QCOMPARE(tableSlots(h.session().state.codeRec), table);
    QVERIFY(h.session().state.codeRec[16].isEmpty());

    const QStringList lines = h.logLines();
    qsizetype from = 0;
    for (int n = 1; n <= 16; ++n) {
        const qsizetype at = lines.indexOf(QStringLiteral("收到参数：") + table.at(n - 1), from);
        QVERIFY2(at >= 0 && at + 2 < lines.size(), qPrintable(QString::number(n)));
        QCOMPARE(lines.at(at + 1), QStringLiteral("收到字符数:257"));
        QCOMPARE(lines.at(at + 2), QStringLiteral("获取第%1条记录。").arg(n));
        from = at + 3;
    }
    QCOMPARE(lines.filter(QStringLiteral("收到字符数:")).size(), 16);

    // Sixteen "00" requests: fifteen for records 2 to 16, one more after the table is complete.
    QStringList expected = readOpening;
    for (int i = 0; i < 16; ++i)
        expected << QStringLiteral("00");
    QVERIFY(sim.waitForReceived(int(expected.size())));
    QTest::qWait(1000);
    const auto timed = sim.receivedTimed();
    QStringList received;
    for (const auto &frame : timed)
        received << frame.second;
    QCOMPARE(received, expected);
    const qint64 afterLast = timed.at(18).first - timed.at(17).first;
    QVERIFY2(afterLast >= 280 && afterLast < 1500, qPrintable(QString::number(afterLast)));

    // Browse: the chosen name lands in the box and saving becomes possible.
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("aircon.bin"));
    const QByteArray old = QByteArrayLiteral("an earlier table\r\n");
    QVERIFY(writeFile(target, old));
    h.answerNextFileDialog(target);
    h.click(QStringLiteral("Command7"));
    QCOMPARE(h.fileDialogTitles().constLast(), QStringLiteral("生成红外指令文件"));
    QCOMPARE(text5->text(), QDir::toNativeSeparators(target));
    QVERIFY(command8->isEnabled());

    // Targets that cannot be written: the box says so, the panel stays, nothing is replaced.
    const QString missingFolder = dir.filePath(QStringLiteral("missing/aircon.bin"));
    for (const QString &path : {QString(), missingFolder, QStringLiteral("/dev/full")}) {
        const QString text = saveTo(h, path);
        QVERIFY2(text.contains(QStringLiteral("未保存")),
                 qPrintable(path + QLatin1Char(' ') + text));
        QVERIFY2(text.contains(QDir::toNativeSeparators(path)), qPrintable(text));
        QCOMPARE(h.messageTitles().constLast(), boxTitle);
        QVERIFY(frame4->isVisible());
    }
    QVERIFY(!QFileInfo::exists(missingFolder));
    {
        // Too little room for the new table: the old file must survive whole.
        FileSizeLimit limit(4096);
        QVERIFY(limit.active());
        const QString text = saveTo(h, target);
        QVERIFY2(text.contains(QStringLiteral("未保存")), qPrintable(text));
    }
    QCOMPARE(readFile(target), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("aircon.bin")});
    QVERIFY(!h.messages().contains(savedText));
    QVERIFY(frame4->isVisible());
    QCOMPARE(tableSlots(h.session().state.codeRec), table);

    // A good target, typed with spaces around it: the existing file is replaced.
    QCOMPARE(saveTo(h, QStringLiteral("  ") + target + QStringLiteral(" ")), savedText);
    QCOMPARE(h.messageTitles().constLast(), boxTitle);
    QVERIFY(!frame4->isVisible());
    const QByteArray written = readFile(target);
    QCOMPARE(written, codeFileBytes(table));
    QCOMPARE(written.count("\r\n"), 16);
    QCOMPARE(written.count('\n'), 16);
}

void CodeTableTest::halfRecordIsNotARecord()
{
    // Record 16 comes with 128 bytes only.
    SimProcess sim({QStringLiteral("--short-record"), QStringLiteral("16:128")});
    QVERIFY(sim.start());
    const QStringList table = sim.storedTable();
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());

    h.click(QStringLiteral("Command5"));
    QVERIFY(sim.waitForReceived(3 + 15, 15000)); // the request for record 16
    QVERIFY(WindowHarness::waitFor([&] { return sim.sent().size() >= 2 + 16; }, 5000));
    QCOMPARE(sim.sent().constLast().size(), 256);
    // Longer than a record's pacing and the reader's own time-out.
    QTest::qWait(4500);

    QVERIFY(!h.child<QWidget>(QStringLiteral("Frame4"))->isVisible());
    QVERIFY(h.child<QWidget>(QStringLiteral("Picture2"))->isVisible());
    QCOMPARE(tableSlots(h.session().state.codeRec, 15), table.mid(0, 15));
    QVERIFY(h.session().state.codeRec[15].isEmpty());
    QVERIFY(h.logLines().contains(QStringLiteral("获取第15条记录。")));
    QVERIFY(!h.logLines().contains(QStringLiteral("获取第16条记录。")));
    QCOMPARE(h.logLines().filter(QStringLiteral("收到字符数:")).size(), 15);
    QCOMPARE(sim.received().size(), 3 + 15); // no further request
}

void CodeTableTest::silentDeviceLeavesPanelClosed()
{
    SimProcess sim({QStringLiteral("--stop-after"), QStringLiteral("0")});
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *frame4 = h.child<QWidget>(QStringLiteral("Frame4"));
    auto *picture2 = h.child<QWidget>(QStringLiteral("Picture2"));

    h.click(QStringLiteral("Command5")); // returns once the guard is armed
    QElapsedTimer sinceStart;
    sinceStart.start();
    QVERIFY(picture2->isVisible());

    bool panelSeen = false;
    QVERIFY(WindowHarness::waitFor(
        [&] {
            panelSeen = panelSeen || frame4->isVisible();
            return !picture2->isVisible();
        },
        25000));
    const qint64 hiddenAfter = sinceStart.elapsed();
    QVERIFY2(hiddenAfter >= 19500, qPrintable(QString::number(hiddenAfter)));
    QVERIFY(!panelSeen);
    QVERIFY(!frame4->isVisible());

    QCOMPARE(sim.received(), readOpening);
    QCOMPARE(h.logLines(), (QStringList{QStringLiteral("--== 输出指令[0001ED] ==--"),
                                        QStringLiteral("--== 输出指令[40] ==--"),
                                        QStringLiteral("--== 输出指令[50] ==--")}));
    for (int i = 0; i < 16; ++i)
        QVERIFY(h.session().state.codeRec[std::size_t(i)].isEmpty());
}

void CodeTableTest::downloadSendsSixteenRecordsInOrder()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());

    // A 17th line is allowed; it fills the spare slot and is never sent.
    const QStringList lines = makeRecords(3, 17);
    QVERIFY(sim.storedTable() != lines.mid(0, 16));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("codes.bin"));
    QVERIFY(writeFile(path, codeFileBytes(lines)));

    h.answerNextFileDialog(path);
    h.click(QStringLiteral("Command6"));
    QCOMPARE(h.fileDialogTitles().constLast(), QStringLiteral("选择红外指令文件"));
    QVERIFY(h.child<QWidget>(QStringLiteral("Picture2"))->isVisible());
    QCOMPARE(h.child<QLabel>(QStringLiteral("Label3"))->text(), noticeWrite);
    QVERIFY(WindowHarness::waitFor([&] { return h.logLines().contains(downloadDone); }, 20000));
    QTest::qWait(1000); // nothing may follow the sixteenth record

    QCOMPARE(sim.received(), framesOut(downloadOpening, lines.mid(0, 16)));
    QCOMPARE(sim.storedTable(), lines.mid(0, 16));
    QCOMPARE(tableSlots(h.session().state.codeRec, 17), lines);
    QCOMPARE(h.session().state.recIndex, qint16(15));

    const QStringList log = h.logLines();
    QStringList numbered;
    for (int i = 0; i < 16; ++i)
        numbered << QStringLiteral("输出第%1行指令！").arg(i);
    QCOMPARE(log.filter(QStringLiteral("行指令！")), numbered);
    QCOMPARE(log.filter(downloadDone).size(), 1);
    QCOMPARE(log.mid(log.size() - 3), (QStringList{QStringLiteral("输出第15行指令！"),
                                                   QStringLiteral("收到参数：00"), downloadDone}));
    // The notice outlasts the download: only the 20 s guard takes it down.
    QVERIFY(h.child<QWidget>(QStringLiteral("Picture2"))->isVisible());
}

void CodeTableTest::refusedRecordIsSentAgain()
{
    SimProcess sim({QStringLiteral("--refuse-record"), QStringLiteral("3")});
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());

    // Lower-case digits and bare LF line ends are accepted as well.
    QStringList lines = makeRecords(5, 16);
    for (QString &line : lines)
        line = line.toLower();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("codes.bin"));
    QVERIFY(writeFile(path, codeFileBytes(lines, "\n")));

    QVERIFY(download(h, path));
    QTest::qWait(500);

    QStringList sentRecords = lines;
    sentRecords.insert(3, lines.at(3));
    QCOMPARE(sim.received(), framesOut(downloadOpening, sentRecords));
    QStringList stored;
    for (const QString &line : lines)
        stored << line.toUpper();
    QCOMPARE(sim.storedTable(), stored);

    const QStringList log = h.logLines();
    QCOMPARE(log.count(QStringLiteral("输出第3行指令！")), 2);
    QCOMPARE(log.count(QStringLiteral("输出第4行指令！")), 1);
    QCOMPARE(log.count(QStringLiteral("收到参数：F5")), 1);
    QCOMPARE(log.filter(QStringLiteral("行指令！")).size(), 17);
    QCOMPARE(log.constLast(), downloadDone);
}

void CodeTableTest::cancelledOrBadFileSendsNothing()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *picture2 = h.child<QWidget>(QStringLiteral("Picture2"));

    h.answerNextFileDialog(QString());
    h.click(QStringLiteral("Command6"));
    QCOMPARE(h.fileDialogTitles().size(), 1);
    QVERIFY(h.messages().isEmpty());
    QVERIFY(!picture2->isVisible());

    const QString good = QStringLiteral("0A1B2C3D");
    auto lines = [&good](int count) {
        QStringList result;
        for (int i = 0; i < count; ++i)
            result << good;
        return result;
    };
    auto withLine = [&lines](int number, const QString &text) {
        QStringList result = lines(16);
        result[number - 1] = text;
        return codeFileBytes(result);
    };
    QByteArray binary(4000, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 37) & 0xFF);
    QByteArray huge;
    for (int i = 0; i < 16; ++i)
        huge += QByteArray(66000, 'A') + "\r\n";

    struct BadFile
    {
        QString name;
        QByteArray bytes;
        QString says; // part of the reason given
    };
    const QList<BadFile> files = {
        {QStringLiteral("ten.bin"), codeFileBytes(lines(10)), QStringLiteral("10")},
        {QStringLiteral("eighteen.bin"), codeFileBytes(lines(18)), QStringLiteral("18")},
        {QStringLiteral("empty.bin"), QByteArray(), QStringLiteral("空")},
        {QStringLiteral("odd.bin"), withLine(5, QStringLiteral("ABC")), QStringLiteral("第5行")},
        {QStringLiteral("nonhex.bin"), withLine(7, QStringLiteral("00GG")),
         QStringLiteral("第7行")},
        {QStringLiteral("blankline.bin"), withLine(4, QString()), QStringLiteral("第4行")},
        {QStringLiteral("binary.bin"), binary, QStringLiteral("第1行")},
        {QStringLiteral("huge.bin"), huge, QStringLiteral("1 MiB")},
    };

    QTemporaryDir dir;
    for (const BadFile &file : files) {
        const QString path = dir.filePath(file.name);
        QVERIFY(writeFile(path, file.bytes));
        const auto before = h.messages().size();
        h.answerNextFileDialog(path);
        h.click(QStringLiteral("Command6"));
        QVERIFY2(h.messages().size() == before + 1, qPrintable(file.name));
        const QString text = h.messages().constLast();
        QVERIFY2(text.contains(QDir::toNativeSeparators(path)), qPrintable(text));
        QVERIFY2(text.contains(file.says), qPrintable(text));
        QCOMPARE(h.messageTitles().constLast(), boxTitle);
        QVERIFY2(!picture2->isVisible(), qPrintable(file.name));
        QVERIFY2(tableSlots(h.session().state.codeRec, 17) == QStringList(17, QString()),
                 qPrintable(file.name));
    }

    QTest::qWait(500);
    QVERIFY(sim.received().isEmpty());
    QVERIFY(h.logLines().filter(QStringLiteral("输出")).isEmpty());
}

void CodeTableTest::savedTableDownloadsIntoAnotherDevice()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("roundtrip.bin"));
    QStringList original;
    {
        SimProcess source({QStringLiteral("--seed"), QStringLiteral("7")});
        QVERIFY(source.start());
        original = source.storedTable();
        WindowHarness h(source.linkPath());
        QVERIFY(h.connectPort());
        h.click(QStringLiteral("Command5"));
        QVERIFY(WindowHarness::waitFor(
            [&] { return h.child<QWidget>(QStringLiteral("Frame4"))->isVisible(); }, 20000));
        h.answerNextFileDialog(path);
        h.click(QStringLiteral("Command7"));
        QCOMPARE(saveTo(h, h.child<QLineEdit>(QStringLiteral("Text5"))->text()), savedText);
    }

    SimProcess target({QStringLiteral("--seed"), QStringLiteral("99")});
    QVERIFY(target.start());
    QVERIFY(target.storedTable() != original);
    WindowHarness h(target.linkPath());
    QVERIFY(h.connectPort());
    QVERIFY(download(h, path));
    QCOMPARE(target.storedTable(), original);
}

QTEST_MAIN(CodeTableTest)
#include "tst_codetable.moc"
