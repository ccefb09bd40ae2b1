// Learning mode, the air-conditioner keys, numbered learning and the device number, in the real
// window on the simulated device.
#include "support/windowharness.h"

#include "serial/waits.h"
#include "workflows/session.h"

#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

const QString prompt = QStringLiteral("系统提示");
const QString learnt = QStringLiteral("指令学习成功！");
const QString badNumber = QStringLiteral("对不起，指令号不能为0");
const QString deviceLength =
    QStringLiteral("设备号长度毕须为4位，不足以零补充，如1号设备编号为[0001]。");
const QString allFree = QStringLiteral("oooooooooo");

QString key(int i)
{
    return QStringLiteral("Check_%1").arg(i);
}

// The ten keys at a glance: 'o' enabled and released, '.' disabled and released, 'P' pressed in
// and enabled, 'p' pressed in and disabled.
QString grid(const WindowHarness &h)
{
    QString s;
    for (int i = 0; i < 10; ++i) {
        const auto *b = h.child<QPushButton>(key(i));
        s += b->isChecked() ? (b->isEnabled() ? QLatin1Char('P') : QLatin1Char('p'))
                            : (b->isEnabled() ? QLatin1Char('o') : QLatin1Char('.'));
    }
    return s;
}

// Wall-clock time (the simulator's clock) of the frame at position n.
qint64 frameTime(const SimProcess &sim, int n)
{
    const auto timed = sim.receivedTimed();
    return n < timed.size() ? timed.at(n).first : -1;
}

void fillCommand(WindowHarness &h, const QString &number, const QString &name)
{
    h.click(QStringLiteral("CommandPanel"));
    h.child<QComboBox>(QStringLiteral("Combo2"))->setEditText(number);
    h.child<QLineEdit>(QStringLiteral("Text3"))->setText(name);
}

} // namespace

class LearningTest : public QObject
{
    Q_OBJECT

private slots:
    void keysToggleAndDeviceNumber();
    void toggleWithoutEchoKeepsCaption_data();
    void toggleWithoutEchoKeepsCaption();
    void learningAKeyLocksTheOthers();
    void refusedLearning();
    void numberedLearningSucceeds();
    void refusalDuringWaitEndsItAtOnce();
    void inputIsRefused_data();
    void inputIsRefused();
};

// One session on a device that echoes and answers every command with 00.
void LearningTest::keysToggleAndDeviceNumber()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *toggle = h.button(QStringLiteral("Check1"));
    auto *text1 = h.child<QLineEdit>(QStringLiteral("Text1"));

    // Outside learning mode a key goes out once and pops back out: the click its release raises
    // sends nothing, nor does the keyboard, and the device's 00 is no learnt key.
    h.click(key(0)); // 开机
    h.click(key(9)); // 30℃
    h.press(key(3));
    QCOMPARE(grid(h), allFree);

    // A one-byte echo must raise the receive event even after a code-table read left 200.
    h.session().comm.setRThreshold(200);
    text1->setText(QStringLiteral(" 0001 "));
    h.click(toggle);
    QVERIFY(toggle->isChecked());
    QCOMPARE(toggle->text(), QStringLiteral("结束指令学习"));
    h.click(toggle);
    QVERIFY(!toggle->isChecked());
    QCOMPARE(toggle->text(), QStringLiteral("开始学习指令"));
    // The mouse clicks cleared userClick: the keyboard flips the value and sends nothing.
    h.press(QStringLiteral("Check1"));
    QVERIFY(toggle->isChecked());
    h.press(QStringLiteral("Check1"));
    QVERIFY(!toggle->isChecked());

    // Anything but four decimal digits would address some other device: the toggle and the keys
    // refuse it in and out of learning mode, and spring back.
    const QStringList malformed{QStringLiteral("12"), QStringLiteral("00a1"),
                                QStringLiteral("00001"), QString()};
    for (const QString &device : malformed) {
        text1->setText(device);
        h.click(toggle);
        QVERIFY(!toggle->isChecked());
        h.click(key(0));
        QCOMPARE(grid(h), allFree);
    }
    text1->setText(QStringLiteral("0001"));
    h.click(toggle);
    for (const QString &device : malformed) {
        text1->setText(device);
        h.click(key(5));
        QCOMPARE(grid(h), allFree);
    }
    text1->setText(QStringLiteral("0001"));
    h.click(toggle);

    // A new device number; the device answers to it from then on.
    h.session().comm.setRThreshold(200);
    text1->setText(QStringLiteral(" 0002 "));
    h.click(QStringLiteral("Command2"));
    QVERIFY(h.logLines().contains(QStringLiteral("收到参数：FD")));
    h.click(toggle);
    QCOMPARE(toggle->text(), QStringLiteral("结束指令学习"));
    QVERIFY(sim.waitForReceived(8));
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("000140"), QStringLiteral("000149"),
                                          QStringLiteral("0001F0"), QStringLiteral("0001F2"),
                                          QStringLiteral("0001F0"), QStringLiteral("0001F2"),
                                          QStringLiteral("FD0002"), QStringLiteral("0002F0")}));
    QCOMPARE(h.messages(), QStringList(3 * malformed.size(), deviceLength));
    QCOMPARE(h.messageTitles(), QStringList(3 * malformed.size(), prompt));
}

void LearningTest::toggleWithoutEchoKeepsCaption_data()
{
    QTest::addColumn<QString>("echo");
    QTest::newRow("silent") << QStringLiteral("silent");
    QTest::newRow("wrong") << QStringLiteral("wrong");
}

void LearningTest::toggleWithoutEchoKeepsCaption()
{
    QFETCH(QString, echo);
    SimProcess sim({QStringLiteral("--echo"), echo});
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *toggle = h.button(QStringLiteral("Check1"));

    // The second click goes by the value, not by what the device confirmed.
    h.click(toggle);
    h.click(toggle);
    QVERIFY(sim.waitForReceived(2));
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("0001F0"), QStringLiteral("0001F2")}));
    QCOMPARE(toggle->text(), QStringLiteral("开始学习"));
    QCOMPARE(h.logLines().contains(QStringLiteral("收到参数：F1")), echo == QLatin1String("wrong"));
    QVERIFY(h.messages().isEmpty());
}

void LearningTest::learningAKeyLocksTheOthers()
{
    // The answer comes after SendCommand has given up, so the locked grid can be seen.
    SimProcess sim({QStringLiteral("--learn-delay"), QStringLiteral("3500")});
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *toggle = h.button(QStringLiteral("Check1"));

    h.click(toggle); // leaves userClick cleared
    // The keyboard learns a key as well, and leaves learning mode without a frame. The late 00
    // still frees the keys; the click the release raises, now outside learning mode, sends
    // nothing.
    h.press(key(4));
    QCOMPARE(grid(h), QStringLiteral("....P....."));
    h.press(QStringLiteral("Check1"));
    QVERIFY(!toggle->isChecked());
    QVERIFY(WindowHarness::waitFor([&h] { return !h.messages().isEmpty(); }, 5000));
    QCOMPARE(grid(h), allFree);

    h.click(toggle);
    h.click(key(2)); // 制冷
    QCOMPARE(grid(h), QStringLiteral("..P......."));
    QVERIFY(WindowHarness::waitFor([&h] { return h.messages().size() == 2; }, 5000));
    QCOMPARE(h.messages(), QStringList(2, learnt));
    QCOMPARE(h.messageTitles(), QStringList(2, prompt));
    QCOMPARE(grid(h), allFree);
    QTest::qWait(300); // time for a stray frame to reach the simulator's log
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("0001F0"), QStringLiteral("000144"),
                                          QStringLiteral("0001F0"), QStringLiteral("000142")}));
}

// A device that refuses whatever it is to learn, 300 ms after the learning frame.
void LearningTest::refusedLearning()
{
    SimProcess sim({QStringLiteral("--learn-reply"), QStringLiteral("01")});
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *toggle = h.button(QStringLiteral("Check1"));

    h.click(toggle);
    h.click(key(7)); // 20℃
    QVERIFY(h.logLines().contains(QStringLiteral("收到参数：01")));
    QCOMPARE(grid(h), QStringLiteral(".......P.."));
    // Released: nothing goes out and the others stay locked. Pressed again: learnt again.
    h.click(key(7));
    QCOMPARE(grid(h), QStringLiteral(".......o.."));
    h.click(key(7));
    // Leaving learning mode does not free the keys.
    h.click(toggle);
    QCOMPARE(toggle->text(), QStringLiteral("开始学习指令"));
    QCOMPARE(grid(h), QStringLiteral(".......P.."));

    // Refused before the learning wait began: the wait still runs its full 15 s.
    fillCommand(h, QStringLiteral("2"), QStringLiteral("关机"));
    h.click(QStringLiteral("Command3"));
    QVERIFY(sim.waitForReceived(7));
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("0001F0"), QStringLiteral("000147"),
                                          QStringLiteral("000147"), QStringLiteral("0001F2"),
                                          QStringLiteral("0001F0"), QStringLiteral("000141"),
                                          QStringLiteral("0001F2")}));
    const qint64 gap = frameTime(sim, 6) - frameTime(sim, 5);
    QVERIFY2(gap >= 15000 && gap <= 18000, qPrintable(QString::number(gap)));
    QVERIFY(h.messages().isEmpty());
}

void LearningTest::numberedLearningSucceeds()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    h.setMessageDelay(1000);
    auto *picture = h.child<QWidget>(QStringLiteral("Picture1"));
    fillCommand(h, QStringLiteral("001"), QStringLiteral("开机"));
    h.session().comm.setRThreshold(200);

    bool shown = false; // at any moment while the handler ran
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] { shown |= picture->isVisible(); });
    probe.start(5);
    h.click(QStringLiteral("Command3"));
    const qint64 wallMinusMono = QDateTime::currentMSecsSinceEpoch() - irlearn::waits::nowMs();

    QVERIFY(sim.waitForReceived(3));
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("0001F0"), QStringLiteral("000140"),
                                          QStringLiteral("0001F2")}));
    QCOMPARE(h.messages(), QStringList{learnt});
    QCOMPARE(h.messageTitles(), QStringList{prompt});
    QVERIFY(shown);
    QVERIFY(!picture->isVisible());

    // A success does not cut the wait short: learning mode ends about 15 s after the box closed.
    const qint64 closed = h.messageClosedAt().at(0) + wallMinusMono;
    const qint64 sinceClose = frameTime(sim, 2) - closed;
    QVERIFY2(sinceClose >= 14000 && sinceClose <= 17500, qPrintable(QString::number(sinceClose)));
}

void LearningTest::refusalDuringWaitEndsItAtOnce()
{
    SimProcess sim({QStringLiteral("--learn-reply"), QStringLiteral("01"),
                    QStringLiteral("--learn-delay"), QStringLiteral("3000")});
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());

    fillCommand(h, QStringLiteral("108"), QStringLiteral("换气"));
    h.click(QStringLiteral("Command3"));
    QVERIFY(sim.waitForReceived(3));
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("0001F0"), QStringLiteral("0001AB"),
                                          QStringLiteral("0001F2")}));
    // F2 follows the refusal instead of waiting out the 15 s, which would end 17 s or more after
    // the learning frame.
    const qint64 gap = frameTime(sim, 2) - frameTime(sim, 1);
    QVERIFY2(gap >= 3000 && gap <= 10000, qPrintable(QString::number(gap)));
    QVERIFY(!h.child<QWidget>(QStringLiteral("Picture1"))->isVisible());
    QVERIFY(h.messages().isEmpty());
}

void LearningTest::inputIsRefused_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message"); // empty: ignored without a box
    const QString learn = QStringLiteral("Command3");
    const QString renumber = QStringLiteral("Command2");
    const QString dev = QStringLiteral("0001");
    const QString name = QStringLiteral("开机");
    const QString zero = QStringLiteral("对不起设备号不能为零！");
    const QString none;
    QTest::newRow("number 0") << learn << dev << QStringLiteral("0") << name << badNumber;
    QTest::newRow("no number") << learn << dev << none << name << badNumber;
    QTest::newRow("number 109") << learn << dev << QStringLiteral("109") << name << badNumber;
    QTest::newRow("number 1.5") << learn << dev << QStringLiteral("1.5") << name << badNumber;
    QTest::newRow("blank name") << learn << dev << QStringLiteral("108") << QStringLiteral("  ")
                                << QStringLiteral("对不起，指令名称不能为空！");
    QTest::newRow("learn on 0A01")
        << learn << QStringLiteral("0A01") << QStringLiteral("1") << name << deviceLength;
    QTest::newRow("renumber 0000") << renumber << QStringLiteral("0000") << none << none << zero;
    QTest::newRow("renumber abcd") << renumber << QStringLiteral("abcd") << none << none << zero;
    QTest::newRow("renumber 12") << renumber << QStringLiteral("12") << none << none
                                 << deviceLength;
    QTest::newRow("renumber 12ab")
        << renumber << QStringLiteral("12ab") << none << none << deviceLength;
    QTest::newRow("renumber empty") << renumber << none << none << none << none;
}

void LearningTest::inputIsRefused()
{
    QFETCH(QString, button);
    QFETCH(QString, device);
    QFETCH(QString, number);
    QFETCH(QString, name);
    QFETCH(QString, message);
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    h.child<QLineEdit>(QStringLiteral("Text1"))->setText(device);
    if (button == QLatin1String("Command3"))
        fillCommand(h, number, name);

    h.click(button);
    const QStringList shown = message.isEmpty() ? QStringList() : QStringList{message};
    QCOMPARE(h.messages(), shown);
    QCOMPARE(h.messageTitles(), QStringList(shown.size(), prompt));
    QTest::qWait(300); // time for a stray frame to reach the simulator's log
    QVERIFY(sim.received().isEmpty());
}

QTEST_MAIN(LearningTest)
#include "tst_learning.moc"
