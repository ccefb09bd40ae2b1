// Reading the device's code table, saving it as a code file and downloading a code file, through
// the real window on the simulated device.
#include "support/filesizelimit.h"
#include "support/windowharness.h"

#include "workflows/session.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

const QString downloadDone = QStringLiteral("下载记录完成！");
const QString boxTitle = QStringLiteral("系统提示");
const QStringList readOpening = {QStringLiteral("0001ED"), QStringLiteral("40"),
                                 QStringLiteral("50")};
const QStringList downloadOpening = {QStringLiteral("0001DD"), QStringLiteral("40"),
                                     QStringLiteral("50")};

QByteArray codeFileBytes(const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toLatin1() + "\r\n";
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
    void readSaveAndDownloadIntoAnotherDevice();
    void halfRecordIsNotARecord();
    void silentDeviceLeavesPanelClosed();
    void badOrCancelledFileSendsNothing_data();
    void badOrCancelledFileSendsNothing();
};

void CodeTableTest::readSaveAndDownloadIntoAnotherDevice()
{
    SimProcess source;
    QVERIFY(source.start());
    const QStringList table = source.storedTable();
    QCOMPARE(table.size(), 16);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("aircon.bin"));
    const QByteArray old = QByteArrayLiteral("an earlier table\r\n");
    QVERIFY(writeFile(target, old));
    {
        WindowHarness h(source.linkPath());
        QVERIFY(h.connectPort());
        auto *frame4 = h.child<QWidget>(QStringLiteral("Frame4"));
        auto *text5 = h.child<QLineEdit>(QStringLiteral("Text5"));
        auto *command8 = h.button(QStringLiteral("Command8"));
        // Left over from an earlier visit: opening the panel must reset both.
        text5->setText(QStringLiteral("/tmp/stale.bin"));
        command8->setEnabled(true);

        h.click(QStringLiteral("Command5"));
        QCOMPARE(h.child<QLabel>(QStringLiteral("Label3"))->text(),
                 QStringLiteral("正在读取数据，请稍等..."));
        QVERIFY(WindowHarness::waitFor([&] { return frame4->isVisible(); }, 20000));
        QVERIFY(!h.child<QWidget>(QStringLiteral("Picture2"))->isVisible());
        QCOMPARE(frame4->parentWidget()->objectName(), QStringLiteral("Frame2"));
        QCOMPARE(frame4->pos(), QPoint(64, 224));
        QVERIFY(text5->text().isEmpty());
        QVERIFY(!command8->isEnabled());
        QCOMPARE(tableSlots(h.session().state.codeRec), table);

        const QStringList lines = h.logLines();
        qsizetype from = 0;
        for (int n = 1; n <= 16; ++n) {
            const qsizetype at =
                lines.indexOf(QStringLiteral("收到参数：") + table.at(n - 1), from);
            QVERIFY2(at >= 0 && at + 2 < lines.size(), qPrintable(QString::number(n)));
            QCOMPARE(lines.at(at + 1), QStringLiteral("收到字符数:257"));
            QCOMPARE(lines.at(at + 2), QStringLiteral("获取第%1条记录。").arg(n));
            from = at + 3;
        }
        QCOMPARE(lines.filter(QStringLiteral("收到字符数:")).size(), 16);

        // Fifteen "00" requests for records 2 to 16, one more after the table is complete.
        QVERIFY(source.waitForReceived(3 + 16));
        QTest::qWait(1000);
        const auto timed = source.receivedTimed();
        QStringList received;
        for (const auto &frame : timed)
            received << frame.second;
        QCOMPARE(received, readOpening + QStringList(16, QStringLiteral("00")));
        const qint64 afterLast = timed.at(18).first - timed.at(17).first;
        QVERIFY2(afterLast >= 280 && afterLast < 1500, qPrintable(QString::number(afterLast)));

        h.answerNextFileDialog(target);
        h.click(QStringLiteral("Command7"));
        QCOMPARE(text5->text(), QDir::toNativeSeparators(target));
        QVERIFY(command8->isEnabled());

        // Too little room for the new table, as on a filling disk, whoever runs the test (root is
        // not stopped by a read-only folder): the old file must survive whole.
        QString failure;
        {
            const FileSizeLimit limit(4096);
            QVERIFY(limit.active());
            failure = saveTo(h, target);
        }
        QVERIFY2(failure.contains(QStringLiteral("未保存")) &&
                     failure.contains(QDir::toNativeSeparators(target)),
                 qPrintable(failure));
        QCOMPARE(h.messageTitles().constLast(), boxTitle);
        QVERIFY(frame4->isVisible());
        QCOMPARE(readFile(target), old);

        // Typed with spaces around it; the existing file is replaced without a question.
        QCOMPARE(saveTo(h, QStringLiteral("  ") + target + QStringLiteral(" ")),
                 QStringLiteral("空调遥控指令保存完成！"));
        QCOMPARE(h.messageTitles().constLast(), boxTitle);
        QVERIFY(!frame4->isVisible());
        QCOMPARE(readFile(target), codeFileBytes(table));
    }

    // The saved file goes into a second device, which refuses record 3 once.
    SimProcess device({QStringLiteral("--seed"), QStringLiteral("99"),
                       QStringLiteral("--refuse-record"), QStringLiteral("3")});
    QVERIFY(device.start());
    QVERIFY(device.storedTable() != table);
    WindowHarness h(device.linkPath());
    QVERIFY(h.connectPort());
    h.answerNextFileDialog(target);
    h.click(QStringLiteral("Command6"));
    QCOMPARE(h.child<QLabel>(QStringLiteral("Label3"))->text(),
             QStringLiteral("正在写入数据，请稍等..."));
    QVERIFY(WindowHarness::waitFor([&] { return h.logLines().contains(downloadDone); }, 20000));
    QTest::qWait(1000); // nothing may follow the sixteenth record

    QStringList records = downloadOpening;
    QStringList numbered;
    for (int i = 0; i < 16; ++i) {
        for (int times = i == 3 ? 2 : 1; times > 0; --times) {
            records << table.at(i);
            numbered << QStringLiteral("输出第%1行指令！").arg(i);
        }
    }
    QCOMPARE(device.received(), records);
    QCOMPARE(device.storedTable(), table);
    const QStringList log = h.logLines();
    QCOMPARE(log.filter(QStringLiteral("行指令！")), numbered);
    QCOMPARE(log.count(downloadDone), 1);
    QCOMPARE(log.mid(log.size() - 3), (QStringList{QStringLiteral("输出第15行指令！"),
                                                   QStringLiteral("收到参数：00"), downloadDone}));
    // The notice outlasts the download: only the 20 s guard takes it down.
    QVERIFY(h.child<QWidget>(QStringLiteral("Picture2"))->isVisible());
}

void CodeTableTest::halfRecordIsNotARecord()
{
    // Record 16 comes with 128 bytes only.
    SimProcess sim({QStringLiteral("--short-record"), QStringLiteral("16:128")});
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());

    h.click(QStringLiteral("Command5"));
    QVERIFY(sim.waitForReceived(3 + 15, 15000)); // the request for record 16
    QVERIFY(WindowHarness::waitFor([&] { return sim.sent().size() >= 2 + 16; }, 5000));
    QCOMPARE(sim.sent().constLast().size(), 256);
    // Longer than a record's pacing and the reader's own time-out.
    QTest::qWait(4500);

    QVERIFY(!h.child<QWidget>(QStringLiteral("Frame4"))->isVisible());
    QStringList expected = sim.storedTable().mid(0, 15);
    expected << QString();
    QCOMPARE(tableSlots(h.session().state.codeRec), expected);
    QVERIFY(!h.logLines().contains(QStringLiteral("获取第16条记录。")));
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
    QVERIFY2(sinceStart.elapsed() >= 19500, qPrintable(QString::number(sinceStart.elapsed())));
    QVERIFY(!panelSeen);
    QVERIFY(!frame4->isVisible());
    QCOMPARE(h.logLines(), (QStringList{QStringLiteral("--== 输出指令[0001ED] ==--"),
                                        QStringLiteral("--== 输出指令[40] ==--"),
                                        QStringLiteral("--== 输出指令[50] ==--")}));
}

void CodeTableTest::badOrCancelledFileSendsNothing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("says"); // part of the reason given; empty: the dialog is cancelled

    const QStringList sixteen(16, QStringLiteral("0A1B2C3D"));
    auto withLine = [&sixteen](int number, const QString &text) {
        QStringList lines = sixteen;
        lines[number - 1] = text;
        return codeFileBytes(lines);
    };
    QTest::newRow("cancelled") << QByteArray() << QString();
    QTest::newRow("10 lines") << codeFileBytes(sixteen.mid(0, 10)) << QStringLiteral("10");
    QTest::newRow("18 lines") << codeFileBytes(sixteen + sixteen.mid(0, 2)) << QStringLiteral("18");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("空");
    QTest::newRow("odd digits") << withLine(5, QStringLiteral("ABC")) << QStringLiteral("第5行");
    QTest::newRow("non-hex") << withLine(7, QStringLiteral("00GG")) << QStringLiteral("第7行");
    QTest::newRow("binary") << QByteArray::fromHex("00FF1A0D0A7F80") << QStringLiteral("第1行");
}

void CodeTableTest::badOrCancelledFileSendsNothing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, says);
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("codes.bin"));
    QVERIFY(writeFile(path, bytes));

    h.answerNextFileDialog(says.isEmpty() ? QString() : path);
    h.click(QStringLiteral("Command6"));
    QCOMPARE(h.fileDialogTitles().size(), 1);
    QCOMPARE(h.messages().size(), says.isEmpty() ? 0 : 1);
    if (!says.isEmpty()) {
        QString text = h.messages().constLast();
        QVERIFY2(text.contains(QDir::toNativeSeparators(path)), qPrintable(text));
        // The folder's random name could hold the expected digits.
        QVERIFY2(text.remove(QDir::toNativeSeparators(path)).contains(says), qPrintable(text));
        QCOMPARE(h.messageTitles().constLast(), boxTitle);
    }
    QVERIFY(!h.child<QWidget>(QStringLiteral("Picture2"))->isVisible());
    QCOMPARE(tableSlots(h.session().state.codeRec, 17), QStringList(17, QString()));
    QTest::qWait(500);
    QVERIFY(sim.received().isEmpty());
}

QTEST_MAIN(CodeTableTest)
#include "tst_codetable.moc"
