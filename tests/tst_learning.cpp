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
const QString blankName = QStringLiteral("对不起，指令名称不能为空！");
const QString zeroDevice = QStringLiteral("对不起设备号不能为零！");
const QString deviceLength =
    QStringLiteral("设备号长度毕须为4位，不足以零补充，如1号设备编号为[0001]。");

// Long enough for a frame that was written to show up in the simulator's log.
void settle()
{
    QTest::qWait(300);
}

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

const QString allFree = QStringLiteral("oooooooooo");

// Records whether a widget was ever visible while a handler (and its waits) ran.
class VisibilityProbe
{
public:
    explicit VisibilityProbe(QWidget *widget) : m_widget(widget)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_seen |= m_widget->isVisible(); });
        m_timer.start(5);
    }
    bool seen() const { return m_seen; }

private:
    QWidget *m_widget = nullptr;
    QTimer m_timer;
    bool m_seen = false;
};

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
    void toggleFollowsTheEcho();
    void toggleWithoutEchoKeepsCaption_data();
    void toggleWithoutEchoKeepsCaption();
    void keysOutsideLearningModeArePushButtons();
    void learningAKeyLocksTheOtherKeys();
    void refusedKeyStaysPressed();
    void lateSuccessAfterLeavingLearningMode();
    void learningFramesNeedFourDigits_data();
    void learningFramesNeedFourDigits();
    void numberedLearningSucceeds();
    void refusalDuringWaitEndsItAtOnce();
    void refusalBeforeWaitStillWaitsItOut();
    void numberedLearningRefusesInput_data();
    void numberedLearningRefusesInput();
    void deviceNumberIsSet();
};

void LearningTest::toggleFollowsTheEcho()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *toggle = h.button(QStringLiteral("Check1"));
    QCOMPARE(toggle->text(), QStringLiteral("开始学习"));

    // A one-byte echo must raise the receive event even after a code-table read left 200.
    h.session().comm.setRThreshold(200);
    h.child<QLineEdit>(QStringLiteral("Text1"))->setText(QStringLiteral(" 0001 "));
    h.click(toggle);
    QVERIFY(sim.waitForReceived(1));
    QCOMPARE(sim.received(), QStringList{QStringLiteral("0001F0")});
    QVERIFY(toggle->isChecked());
    QCOMPARE(toggle->text(), QStringLiteral("结束指令学习"));
    QVERIFY(h.logLines().contains(QStringLiteral("--== 输出指令[0001F0] ==--")));
    QVERIFY(h.logLines().contains(QStringLiteral("收到参数：F0")));

    h.click(toggle);
    QVERIFY(sim.waitForReceived(2));
    QCOMPARE(sim.received().at(1), QStringLiteral("0001F2"));
    QVERIFY(!toggle->isChecked());
    QCOMPARE(toggle->text(), QStringLiteral("开始学习指令"));
    QVERIFY(!h.session().state.userClick);

    // The mouse clicks cleared userClick: the keyboard flips the value and sends nothing.
    h.press(QStringLiteral("Check1"));
    QVERIFY(toggle->isChecked());
    h.press(QStringLiteral("Check1"));
    QVERIFY(!toggle->isChecked());
    settle();
    QCOMPARE(sim.received().size(), 2);
    QCOMPARE(toggle->text(), QStringLiteral("开始学习指令"));
    QVERIFY(h.messages().isEmpty());
}

void LearningTest::toggleWithoutEchoKeepsCaption_data()
{
    QTest::addColumn<QString>("echo");
    QTest::addColumn<QStringList>("replies");
    QTest::newRow("silent") << QStringLiteral("silent") << QStringList();
    QTest::newRow("wrong") << QStringLiteral("wrong")
                           << QStringList{QStringLiteral("收到参数：F1"),
                                          QStringLiteral("收到参数：F3")};
}

void LearningTest::toggleWithoutEchoKeepsCaption()
{
    QFETCH(QString, echo);
    QFETCH(QStringList, replies);
    SimProcess sim({QStringLiteral("--echo"), echo});
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *toggle = h.button(QStringLiteral("Check1"));

    h.click(toggle);
    QVERIFY(toggle->isChecked());
    // The next click goes by the value, not by what the device confirmed.
    h.click(toggle);
    QVERIFY(!toggle->isChecked());
    QVERIFY(sim.waitForReceived(2));
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("0001F0"), QStringLiteral("0001F2")}));
    QCOMPARE(toggle->text(), QStringLiteral("开始学习"));
    QStringList logged;
    for (const QString &line : h.logLines()) {
        if (line.startsWith(QStringLiteral("收到参数：")))
            logged << line;
    }
    QCOMPARE(logged, replies);
    QVERIFY(h.messages().isEmpty());
}

void LearningTest::keysOutsideLearningModeArePushButtons()
{
    // A silent device leaves the key's tag registered, where it can be read.
    SimProcess sim({QStringLiteral("--key-reply"), QStringLiteral("none")});
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    const irlearn::DeviceState &state = h.session().state;

    h.click(key(0)); // 开机
    QCOMPARE(state.replyTag, QStringLiteral("getcmd"));
    QCOMPARE(grid(h), allFree);
    h.click(key(9)); // 30℃
    QCOMPARE(state.replyTag, QStringLiteral("getcmd"));
    QCOMPARE(grid(h), allFree);
    settle();
    // Once each: the click that releases the key sends nothing.
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("000140"), QStringLiteral("000149")}));

    h.press(key(3));
    QCOMPARE(grid(h), allFree);
    settle();
    QCOMPARE(sim.received().size(), 2);
    QVERIFY(h.messages().isEmpty());
}

void LearningTest::learningAKeyLocksTheOtherKeys()
{
    // The answer comes after SendCommand has given up, so the locked grid can be seen.
    SimProcess sim({QStringLiteral("--learn-delay"), QStringLiteral("2600")});
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *picture = h.child<QWidget>(QStringLiteral("Picture1"));

    h.click(QStringLiteral("Check1"));
    h.click(key(2)); // 制冷
    QCOMPARE(grid(h), QStringLiteral("..P......."));
    QCOMPARE(h.session().state.replyTag, QStringLiteral("xxzl"));
    QVERIFY(h.messages().isEmpty());

    QVERIFY(WindowHarness::waitFor([&h] { return !h.messages().isEmpty(); }, 5000));
    QCOMPARE(h.messages(), QStringList{learnt});
    QCOMPARE(h.messageTitles(), QStringList{prompt});
    QCOMPARE(grid(h), allFree);
    QVERIFY(h.session().state.replyTag.isEmpty());
    QVERIFY(!picture->isVisible());
    settle();
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("0001F0"), QStringLiteral("000142")}));
}

void LearningTest::refusedKeyStaysPressed()
{
    SimProcess sim({QStringLiteral("--learn-reply"), QStringLiteral("01")});
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *toggle = h.button(QStringLiteral("Check1"));

    h.click(toggle);
    h.session().state.waitLearn = true;
    h.click(key(7)); // 20℃
    QVERIFY(h.logLines().contains(QStringLiteral("收到参数：01")));
    QCOMPARE(grid(h), QStringLiteral(".......P.."));
    QVERIFY(!h.session().state.waitLearn);

    // Released: nothing goes out and the others stay locked.
    h.click(key(7));
    QCOMPARE(grid(h), QStringLiteral(".......o.."));
    settle();
    QCOMPARE(sim.received().size(), 2);

    // Pressed again: learnt again.
    h.click(key(7));
    QCOMPARE(grid(h), QStringLiteral(".......P.."));

    // Leaving learning mode does not free the keys.
    h.click(toggle);
    QCOMPARE(toggle->text(), QStringLiteral("开始学习指令"));
    QCOMPARE(grid(h), QStringLiteral(".......P.."));
    QVERIFY(sim.waitForReceived(4));
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("0001F0"), QStringLiteral("000147"),
                                          QStringLiteral("000147"), QStringLiteral("0001F2")}));
    QVERIFY(h.messages().isEmpty());
}

void LearningTest::lateSuccessAfterLeavingLearningMode()
{
    SimProcess sim({QStringLiteral("--learn-delay"), QStringLiteral("3500")});
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *toggle = h.button(QStringLiteral("Check1"));

    h.click(toggle); // leaves userClick cleared
    // In learning mode the keyboard learns a key as well.
    h.press(key(4));
    QCOMPARE(grid(h), QStringLiteral("....P....."));
    // Released by the keyboard: learning mode is left without a frame.
    h.press(QStringLiteral("Check1"));
    QVERIFY(!toggle->isChecked());
    QCOMPARE(h.session().state.replyTag, QStringLiteral("xxzl"));

    QVERIFY(WindowHarness::waitFor([&h] { return !h.messages().isEmpty(); }, 5000));
    QCOMPARE(h.messages(), QStringList{learnt});
    QCOMPARE(grid(h), allFree);
    // The release raised a click outside learning mode; it must not send the key.
    settle();
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("0001F0"), QStringLiteral("000144")}));
    QCOMPARE(toggle->text(), QStringLiteral("结束指令学习"));
}

void LearningTest::learningFramesNeedFourDigits_data()
{
    QTest::addColumn<QString>("device");
    QTest::newRow("short") << QStringLiteral("12");
    QTest::newRow("hex digit") << QStringLiteral("00a1");
    QTest::newRow("long") << QStringLiteral("00001");
    QTest::newRow("empty") << QString();
}

void LearningTest::learningFramesNeedFourDigits()
{
    QFETCH(QString, device);
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *toggle = h.button(QStringLiteral("Check1"));
    auto *text1 = h.child<QLineEdit>(QStringLiteral("Text1"));

    text1->setText(device);
    h.click(toggle);
    QVERIFY(!toggle->isChecked());
    QCOMPARE(toggle->text(), QStringLiteral("开始学习"));
    h.click(key(0));
    QCOMPARE(grid(h), allFree);

    // In learning mode the refused key springs back and locks nothing.
    text1->setText(QStringLiteral("0001"));
    h.click(toggle);
    QVERIFY(toggle->isChecked());
    text1->setText(device);
    h.click(key(5));
    QCOMPARE(grid(h), allFree);

    QCOMPARE(h.messages(), QStringList(3, deviceLength));
    QCOMPARE(h.messageTitles(), QStringList(3, prompt));
    settle();
    QCOMPARE(sim.received(), QStringList{QStringLiteral("0001F0")});
}

void LearningTest::numberedLearningSucceeds()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    h.setMessageDelay(1000);
    auto *picture = h.child<QWidget>(QStringLiteral("Picture1"));
    fillCommand(h, QStringLiteral("1"), QStringLiteral("开机"));
    h.session().comm.setRThreshold(200);

    VisibilityProbe probe(picture);
    h.click(QStringLiteral("Command3"));
    const qint64 wallMinusMono = QDateTime::currentMSecsSinceEpoch() - irlearn::waits::nowMs();

    QVERIFY(sim.waitForReceived(3));
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("0001F0"), QStringLiteral("000140"),
                                          QStringLiteral("0001F2")}));
    QCOMPARE(h.messages(), QStringList{learnt});
    QCOMPARE(h.messageTitles(), QStringList{prompt});
    QVERIFY(probe.seen());
    QVERIFY(!picture->isVisible());
    QVERIFY(h.logLines().contains(QStringLiteral("收到参数：F2")));
    QCOMPARE(grid(h), allFree);

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
    auto *picture = h.child<QWidget>(QStringLiteral("Picture1"));

    // The last number, then one with leading zeros.
    const QStringList numbers{QStringLiteral("108"), QStringLiteral("007")};
    const QStringList codes{QStringLiteral("0001AB"), QStringLiteral("000146")};
    for (int run = 0; run < 2; ++run) {
        fillCommand(h, numbers.at(run), QStringLiteral("换气"));
        VisibilityProbe probe(picture);
        h.click(QStringLiteral("Command3"));
        QVERIFY(sim.waitForReceived(3 * (run + 1)));
        QCOMPARE(sim.received().mid(3 * run),
                 (QStringList{QStringLiteral("0001F0"), codes.at(run), QStringLiteral("0001F2")}));
        QVERIFY(probe.seen());
        QVERIFY(!picture->isVisible());
        // F2 follows the refusal instead of waiting out the 15 s, which would end 17 s or more
        // after the learning frame.
        const qint64 gap = frameTime(sim, 3 * run + 2) - frameTime(sim, 3 * run + 1);
        QVERIFY2(gap >= 3000 && gap <= 10000, qPrintable(QString::number(gap)));
    }
    QVERIFY(h.messages().isEmpty());
    QVERIFY(!h.session().state.waitLearn);
}

void LearningTest::refusalBeforeWaitStillWaitsItOut()
{
    // Refused 300 ms after the learning frame: the learning wait starts only after that and
    // runs its full 15 s.
    SimProcess sim({QStringLiteral("--learn-reply"), QStringLiteral("01")});
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    fillCommand(h, QStringLiteral("2"), QStringLiteral("关机"));

    h.click(QStringLiteral("Command3"));
    QVERIFY(sim.waitForReceived(3));
    QCOMPARE(sim.received(), (QStringList{QStringLiteral("0001F0"), QStringLiteral("000141"),
                                          QStringLiteral("0001F2")}));
    const qint64 gap = frameTime(sim, 2) - frameTime(sim, 1);
    QVERIFY2(gap >= 15000 && gap <= 18000, qPrintable(QString::number(gap)));
    QVERIFY(h.messages().isEmpty());
    QVERIFY(!h.child<QWidget>(QStringLiteral("Picture1"))->isVisible());
}

void LearningTest::numberedLearningRefusesInput_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("message");
    const QString name = QStringLiteral("开机");
    const QString dev = QStringLiteral("0001");
    QTest::newRow("zero") << QStringLiteral("0") << name << dev << badNumber;
    QTest::newRow("empty number") << QString() << name << dev << badNumber;
    QTest::newRow("109") << QStringLiteral("109") << name << dev << badNumber;
    QTest::newRow("fraction") << QStringLiteral("1.5") << name << dev << badNumber;
    QTest::newRow("trailing text") << QStringLiteral("5a") << name << dev << badNumber;
    QTest::newRow("negative") << QStringLiteral("-3") << name << dev << badNumber;
    QTest::newRow("number before name") << QStringLiteral("0") << QString() << dev << badNumber;
    QTest::newRow("blank name") << QStringLiteral("108") << QStringLiteral("  ") << dev
                                << blankName;
    QTest::newRow("short device") << QStringLiteral("1") << name << QStringLiteral("12")
                                  << deviceLength;
    QTest::newRow("hex device") << QStringLiteral("1") << name << QStringLiteral("0A01")
                                << deviceLength;
}

void LearningTest::numberedLearningRefusesInput()
{
    QFETCH(QString, number);
    QFETCH(QString, name);
    QFETCH(QString, device);
    QFETCH(QString, message);
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    h.child<QLineEdit>(QStringLiteral("Text1"))->setText(device);
    fillCommand(h, number, name);

    h.click(QStringLiteral("Command3"));
    QCOMPARE(h.messages(), QStringList{message});
    QCOMPARE(h.messageTitles(), QStringList{prompt});
    settle();
    QVERIFY(sim.received().isEmpty());
}

void LearningTest::deviceNumberIsSet()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WindowHarness h(sim.linkPath());
    QVERIFY(h.connectPort());
    auto *text1 = h.child<QLineEdit>(QStringLiteral("Text1"));

    const QList<QPair<QString, QString>> refused{
        {QStringLiteral("0000"), zeroDevice},   {QStringLiteral("abcd"), zeroDevice},
        {QStringLiteral("00"), zeroDevice},     {QStringLiteral("12"), deviceLength},
        {QStringLiteral("12ab"), deviceLength}, {QStringLiteral("00012"), deviceLength}};
    QStringList expected;
    for (const auto &[text, message] : refused) {
        text1->setText(text);
        h.click(QStringLiteral("Command2"));
        expected << message;
        QCOMPARE(h.messages(), expected);
    }
    for (const QString &blank : {QString(), QStringLiteral("   ")}) {
        text1->setText(blank);
        h.click(QStringLiteral("Command2"));
    }
    QCOMPARE(h.messages(), expected);
    QCOMPARE(h.messageTitles(), QStringList(expected.size(), prompt));
    settle();
    QVERIFY(sim.received().isEmpty());

    h.session().comm.setRThreshold(200);
    text1->setText(QStringLiteral(" 0002 "));
    h.click(QStringLiteral("Command2"));
    QVERIFY(sim.waitForReceived(1));
    QCOMPARE(sim.received(), QStringList{QStringLiteral("FD0002")});
    QVERIFY(h.logLines().contains(QStringLiteral("收到参数：FD")));
    QCOMPARE(h.messages().size(), expected.size());

    // The device answers to its new number from now on.
    h.click(QStringLiteral("Check1"));
    QVERIFY(sim.waitForReceived(2));
    QCOMPARE(sim.received().at(1), QStringLiteral("0002F0"));
    QCOMPARE(h.button(QStringLiteral("Check1"))->text(), QStringLiteral("结束指令学习"));
}

QTEST_MAIN(LearningTest)
#include "tst_learning.moc"
