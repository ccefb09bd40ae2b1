// Reading the device's code table, saving it as a code file and downloading a code file, through
// the real window on the simulated device.
#include "support/filesizelimit.h"
#include "support/windowharness.h"

#include "engine/deviceengine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

namespace {

const QString downloadDone = QStringLiteral("下载记录完成！");
const QString boxTitle = QStringLiteral("系统提示");
const QString saved = QStringLiteral("空调遥控指令保存完成！");
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

// While a transfer runs, every other device operation is disabled; the panel switch is not.
bool othersDisabled(const WindowHarness &h)
{
    for (const char *name :
         {"Check1", "Command2", "Command5", "Command6", "Frame3", "Check_0", "Check_9"}) {
        if (h.child<QWidget>(QLatin1String(name))->isEnabled())
            return false;
    }
    return h.child<QWidget>(QStringLiteral("CommandPanel"))->isEnabled();
}

bool deviceInFront(const WindowHarness &h)
{
    const QObjectList &siblings = h.child<QWidget>(QStringLiteral("Frame2"))->parent()->children();
    return siblings.indexOf(h.child<QWidget>(QStringLiteral("Frame2"))) >
           siblings.indexOf(h.child<QWidget>(QStringLiteral("Frame3")));
}

bool readTable(WindowHarness &h)
{
    h.click(QStringLiteral("Command5"));
    return QTest::qWaitFor([&] { return h.child<QWidget>(QStringLiteral("Frame4"))->isVisible(); },
                           5000);
}

} // namespace

class CodeTableTest : public QObject
{
    Q_OBJECT

private slots:
    void readSaveAndDownloadIntoAnotherDevice();
    void savePanelOutlivesTheConnection();
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
        WindowHarness h(source.linkPath(), QStringLiteral("0001"), QStringLiteral("COM1"),
                        WindowHarness::lineSpeedTimings());
        QVERIFY(h.connectPort());
        auto *frame4 = h.child<QWidget>(QStringLiteral("Frame4"));
        auto *text5 = h.child<QLineEdit>(QStringLiteral("Text5"));
        auto *command8 = h.button(QStringLiteral("Command8"));
        // Left over from an earlier visit: opening the panel must reset both.
        text5->setText(QStringLiteral("/tmp/stale.bin"));
        command8->setEnabled(true);

        bool locked = true;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (h.window().engine().isBusy())
                locked &= othersDisabled(h);
        });
        probe.start(5);
        h.click(QStringLiteral("Command5"));
        QCOMPARE(h.child<QLabel>(QStringLiteral("Label3"))->text().section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("正在读取数据，请稍等..."));
        QVERIFY(h.child<QWidget>(QStringLiteral("Picture2"))->isVisible());
        // Sixteen records at 9600 baud: over four seconds.
        QVERIFY2(QTest::qWaitFor([&] { return frame4->isVisible(); }, 15000),
                 qPrintable((h.messages() + h.logLines().mid(h.logLines().size() - 4))
                                .join(QLatin1Char('\n'))));
        QVERIFY(!h.child<QWidget>(QStringLiteral("Picture2"))->isVisible());
        QCOMPARE(frame4->parentWidget()->objectName(), QStringLiteral("Frame2"));
        QCOMPARE(frame4->pos(), QPoint(64, 224));
        QVERIFY(text5->text().isEmpty());
        QVERIFY(!command8->isEnabled());
        QCOMPARE(tableSlots(h.window().table()), table);
        QVERIFY(h.idle());
        probe.stop();
        QVERIFY(locked);

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
        QTest::qWait(100);
        QCOMPARE(source.received(), readOpening + QStringList(16, QStringLiteral("00")));
        QVERIFY(h.messages().isEmpty());

        h.answerNextFileDialog(target);
        h.click(QStringLiteral("Command7"));
        QCOMPARE(h.fileDialogTitles(), QStringList{QStringLiteral("生成红外指令文件")});
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
        QCOMPARE(saveTo(h, QStringLiteral("  ") + target + QStringLiteral(" ")), saved);
        QCOMPARE(h.messageTitles().constLast(), boxTitle);
        QVERIFY(!frame4->isVisible());
        QCOMPARE(readFile(target), codeFileBytes(table));
    }

    // The saved file goes into a second device, which refuses record 3 once. Clicks during the
    // download put nothing on the wire between its records.
    SimProcess device({QStringLiteral("--seed"), QStringLiteral("99"),
                       QStringLiteral("--refuse-record"), QStringLiteral("3")});
    QVERIFY(device.start());
    QVERIFY(device.storedTable() != table);
    WindowHarness h(device.linkPath());
    QVERIFY(h.connectPort());
    h.answerNextFileDialog(target);
    QElapsedTimer sinceStart;
    sinceStart.start();
    h.click(QStringLiteral("Command6"));
    QCOMPARE(h.fileDialogTitles(), QStringList{QStringLiteral("选择红外指令文件")});
    QCOMPARE(h.child<QLabel>(QStringLiteral("Label3"))->text().section(QLatin1Char('\n'), 0, 0),
             QStringLiteral("正在写入数据，请稍等..."));
    QVERIFY(device.waitForReceived(6));
    QVERIFY(othersDisabled(h));
    h.click(QStringLiteral("Check_0"));
    h.press(QStringLiteral("Check_0"));
    h.button(QStringLiteral("Check_0"))->click();
    h.click(QStringLiteral("Check1"));
    h.button(QStringLiteral("Check1"))->click();
    h.click(QStringLiteral("Command5"));
    QVERIFY(h.idle());
    QVERIFY(h.logLines().contains(downloadDone));
    QTest::qWait(100); // nothing may follow the sixteenth record

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
    QVERIFY(h.messages().isEmpty());
    // The notice outlasts the download: only its own time limit (a coarse timer, up to 5 % early)
    // takes it down.
    auto *notice = h.child<QWidget>(QStringLiteral("Picture2"));
    QVERIFY(notice->isVisible());
    QVERIFY(QTest::qWaitFor([&] { return !notice->isVisible(); }, 3000));
    QVERIFY2(sinceStart.elapsed() >= 1400, qPrintable(QString::number(sinceStart.elapsed())));
}

// A table just read can still be saved after a disconnect, and after an unplug while the command
// table was in front: the device panel with the save panel comes back. The two reads only fetch a
// table to save, so the device answers at once rather than at line speed.
void CodeTableTest::savePanelOutlivesTheConnection()
{
    QTemporaryDir dir;
    for (const bool unplug : {false, true}) {
        SimProcess sim({QStringLiteral("--seed"), QString::number(unplug ? 7 : 8)},
                       SimProcess::Pace::Instant);
        QVERIFY(sim.start());
        WindowHarness h(sim.linkPath());
        QVERIFY(h.connectPort());
        QVERIFY(readTable(h));
        QVERIFY(h.idle());
        h.click(QStringLiteral("CommandPanel"));
        QVERIFY(!deviceInFront(h));
        if (unplug) {
            sim.kill();
            QVERIFY(QTest::qWaitFor(
                [&] {
                    return h.button(QStringLiteral("Command1"))->text() == QStringLiteral("连 接");
                },
                5000));
        } else {
            h.click(QStringLiteral("Command1"));
        }
        QCOMPARE(h.button(QStringLiteral("Command1"))->text(), QStringLiteral("连 接"));
        QVERIFY(h.button(QStringLiteral("CommandPanel"))->isEnabled());
        h.click(QStringLiteral("CommandPanel"));
        QVERIFY(deviceInFront(h));
        QVERIFY(h.child<QWidget>(QStringLiteral("Frame4"))->isVisible());

        const QString target = dir.filePath(QStringLiteral("table%1.bin").arg(int(unplug)));
        h.answerNextFileDialog(target);
        h.click(QStringLiteral("Command7"));
        QCOMPARE(saveTo(h, target), saved);
        QCOMPARE(readFile(target), codeFileBytes(sim.storedTable()));
    }
}

// A cancelled dialog or a file that is no whole table: nothing is sent, and the reason names the
// file.
void CodeTableTest::badOrCancelledFileSendsNothing()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("codes.bin"));

    const QStringList sixteen(16, QStringLiteral("0A1B2C3D"));
    auto withLine = [&sixteen](int number, const QString &text) {
        QStringList lines = sixteen;
        lines[number - 1] = text;
        return codeFileBytes(lines);
    };
    const QList<QPair<QByteArray, QString>> cases = {
        {QByteArray(), QString()}, // cancelled
        {codeFileBytes(sixteen.mid(0, 10)), QStringLiteral("10")},
        {codeFileBytes(sixteen + sixteen.mid(0, 2)), QStringLiteral("18")},
        {QByteArray(), QStringLiteral("空")},
        {withLine(5, QStringLiteral("ABC")), QStringLiteral("第5行")},
        {withLine(7, QStringLiteral("00GG")), QStringLiteral("第7行")},
        {QByteArray::fromHex("00FF1A0D0A7F80"), QStringLiteral("第1行")},
    };
    for (const auto &[bytes, says] : cases) {
        QVERIFY(writeFile(path, bytes));
        const auto before = h.messages().size();
        h.answerNextFileDialog(says.isEmpty() ? QString() : path);
        h.click(QStringLiteral("Command6"));
        QCOMPARE(h.messages().size(), before + (says.isEmpty() ? 0 : 1));
        if (!says.isEmpty()) {
            QString text = h.messages().constLast();
            QVERIFY2(text.contains(QDir::toNativeSeparators(path)), qPrintable(text));
            // The folder's random name could hold the expected digits.
            QVERIFY2(text.remove(QDir::toNativeSeparators(path)).contains(says), qPrintable(text));
            QCOMPARE(h.messageTitles().constLast(), boxTitle);
        }
        QVERIFY(!h.window().engine().isBusy());
        QVERIFY(!h.child<QWidget>(QStringLiteral("Picture2"))->isVisible());
    }
    QCOMPARE(h.fileDialogTitles().size(), cases.size());
    QCOMPARE(tableSlots(h.window().table(), 17), QStringList(17, QString()));
    QTest::qWait(100);
    QVERIFY(sim.received().isEmpty());
}

QTEST_MAIN(CodeTableTest)
#include "tst_codetable.moc"
