// Learning mode, the air-conditioner keys, numbered learning with its countdown, the device number
// and input that cannot go on the wire, in the real window on the simulated device.
#include "support/windowharness.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QString badNumber = u"对不起，指令号不能为0"_s;
const QString deviceLength = u"设备号长度必须为4位，不足以零补充，如1号设备编号为[0001]。"_s;
const QString allFree = u"oooooooooo"_s;

QString key(int i)
{
    return u"keyButton%1"_s.arg(i);
}

// The ten keys at a glance: 'o' enabled and released, '.' disabled and released, 'P' pressed in
// and enabled, 'p' pressed in and disabled.
QString grid(const WindowHarness &h)
{
    QString s;
    for (int i = 0; i < 10; ++i) {
        const auto *b = h.child<QPushButton>(key(i));
        s += b->isChecked() ? (b->isEnabled() ? u'P' : u'p') : (b->isEnabled() ? u'o' : u'.');
    }
    return s;
}

// Frames as the simulator logs them, one after another.
QStringList frames(const char *list)
{
    return QString::fromLatin1(list).split(u' ');
}

} // namespace

class LearningTest : public QObject
{
    Q_OBJECT

private slots:
    // One session on a device that echoes and answers every command with 00. First input that
    // cannot go on the wire: one box (or none), and nothing sent.
    void keysToggleAndDeviceNumber()
    {
        QuickSim sim;
        WindowHarness h(sim);
        QVERIFY(sim.start() && h.connectPort());
        auto *toggle = h.button("learningToggle");
        auto *text1 = h.child<QLineEdit>("deviceNumberEdit");
        // The button, device number, command number and name, and the box (none: empty).
        const QList<std::tuple<const char *, const char *, const char *, const char *, QString>>
            cases = {
                {"learnCommandButton", "0001", "0", "开机", badNumber},
                {"learnCommandButton", "0001", "109", "开机", badNumber},
                {"learnCommandButton", "0001", "1.5", "开机", badNumber},
                {"learnCommandButton", "0001", "108", "  ", u"对不起，指令名称不能为空！"_s},
                {"learnCommandButton", "0A01", "1", "开机", deviceLength},
                {"setDeviceNumberButton", "0000", "", "", u"对不起设备号不能为零！"_s},
                {"setDeviceNumberButton", "abcd", "", "", u"对不起设备号不能为零！"_s},
                {"setDeviceNumberButton", "12ab", "", "", deviceLength},
                {"setDeviceNumberButton", "", "", "", QString()},
                // Anything but four decimal digits would address some other device.
                {"learningToggle", "00001", "", "", deviceLength},
                {"learningToggle", "", "", "", deviceLength},
                {"keyButton0", "00a1", "", "", deviceLength},
            };
        h.click("panelSwitchButton");
        for (const auto &[button, device, number, name, message] : cases) {
            const auto before = h.messages().size();
            text1->setText(QString::fromUtf8(device));
            h.child<QComboBox>("commandNumberBox")->setEditText(QString::fromUtf8(number));
            h.child<QLineEdit>("commandNameEdit")->setText(QString::fromUtf8(name));
            h.click(button);
            QCOMPARE(h.messages().mid(before),
                     message.isEmpty() ? QStringList() : QStringList{message});
            QVERIFY(!h.window().engine().isBusy());
            QVERIFY(!toggle->isChecked());
            QCOMPARE(grid(h), allFree);
        }
        QCOMPARE(h.messageTitles(), QStringList(h.messages().size(), u"系统提示"_s));
        h.click("panelSwitchButton");
        QVERIFY(sim.received().isEmpty());
        text1->setText(u"0001"_s);
        const auto boxes = h.messages().size();

        // Outside learning mode a key goes out once and pops back out; the keyboard sends nothing,
        // and the device's 00 is no learnt key.
        QVERIFY(h.clickIdle(key(0))); // 开机
        QVERIFY(h.clickIdle(key(9))); // 30℃
        h.press(key(3));
        QCOMPARE(grid(h), allFree);

        // In learning mode, a device number the key cannot carry: refused, and the key springs
        // back.
        text1->setText(u" 0001 "_s);
        QVERIFY(h.clickIdle("learningToggle"));
        QCOMPARE(toggle->text(), u"结束指令学习"_s);
        text1->setText(u"12"_s);
        QVERIFY(h.clickIdle(key(5)));
        QCOMPARE(grid(h), allFree);
        text1->setText(u"0001"_s);
        QVERIFY(h.clickIdle("learningToggle"));
        QCOMPARE(toggle->text(), u"开始学习指令"_s);

        // A new device number; the device answers to it from then on.
        text1->setText(u" 0002 "_s);
        QVERIFY(h.clickIdle("setDeviceNumberButton"));
        QVERIFY(h.logLines().contains(u"收到参数：FD"_s));
        QVERIFY(h.clickIdle("learningToggle"));
        QCOMPARE(toggle->text(), u"结束指令学习"_s);
        QCOMPARE(sim.received(), frames("000140 000149 0001F0 0001F2 FD0002 0002F0"));
        QCOMPARE(h.messages().mid(boxes), QStringList{deviceLength});
    }

    // A press that reaches a disabled key or toggle (while a key goes out) is not the operator's:
    // later clicks made without the mouse send nothing. A double-click's second press does count,
    // so the toggle's value always matches the mode the device was put in. A key being learnt
    // locks the others.
    void onlyTheOperatorsPressesCount()
    {
        // Keys outside learning mode get no answer: each keeps the window busy for a reply window.
        QuickSim sim("--key-reply none --learn-delay 500");
        WindowHarness h(sim);
        QVERIFY(sim.start() && h.connectPort());
        auto *toggle = h.button("learningToggle");
        auto *key2 = h.button(key(2));

        h.click(key(2));
        QVERIFY(h.controlsEnabled(false));
        QTest::mouseClick(key2, Qt::LeftButton);
        QVERIFY(h.idle());
        key2->click();
        QVERIFY(h.idle());

        h.click(key(0));
        QVERIFY(h.controlsEnabled(false));
        // A real double-click: press, release, the second press (as a double-click event),
        // release.
        QTest::mousePress(toggle, Qt::LeftButton);
        QTest::mouseRelease(toggle, Qt::LeftButton);
        QTest::mouseDClick(toggle, Qt::LeftButton);
        QTest::mouseRelease(toggle, Qt::LeftButton);
        QVERIFY(h.idle());
        h.press("learningToggle");
        QVERIFY(toggle->isChecked());
        toggle->setChecked(false);
        QCOMPARE(sim.received(), frames("000142 000140"));

        // The device echoes before the second press, so the toggle is enabled again for it.
        QTest::mousePress(toggle, Qt::LeftButton);
        QTest::mouseRelease(toggle, Qt::LeftButton);
        QVERIFY(h.idle());
        QCOMPARE(toggle->text(), u"结束指令学习"_s);
        QTest::mouseDClick(toggle, Qt::LeftButton);
        QTest::mouseRelease(toggle, Qt::LeftButton);
        QVERIFY(h.idle());
        QVERIFY(!toggle->isChecked());
        QCOMPARE(toggle->text(), u"开始学习指令"_s);

        // The keyboard learns a key as well; while it goes out every key is disabled, then the
        // others stay locked (the answer comes after the request gave up). Leaving learning mode
        // by keyboard sends nothing; the late 00 frees the keys.
        QVERIFY(h.clickIdle("learningToggle"));
        h.press(key(4));
        QCOMPARE(grid(h), u"....p....."_s);
        QVERIFY(h.idle());
        QCOMPARE(grid(h), u"....P....."_s);
        h.press("learningToggle");
        QVERIFY(!toggle->isChecked());
        QTRY_COMPARE(h.messages(), QStringList{u"指令学习成功！"_s});
        QCOMPARE(grid(h), allFree);
        QTest::qWait(100); // time for a stray frame to reach the simulator's log
        QCOMPARE(sim.received(), frames("000142 000140 0001F0 0001F2 0001F0 000144"));
    }

    // A device that refuses whatever it is to learn, 100 ms after the learning frame: the key stays
    // pressed in and the others locked. It answers learning mode on and off wrongly (F1, F3): the
    // caption stays, and the toggle goes by its value, not by what the device confirmed. (The
    // numbered learning's refusals: tst_engine.)
    void refusedLearning()
    {
        QuickSim sim("--learn-reply 01 --learn-delay 100 --echo wrong");
        WindowHarness h(sim);
        QVERIFY(sim.start() && h.connectPort());
        QVERIFY(h.clickIdle("learningToggle"));
        QVERIFY(h.logLines().contains(u"收到参数：F1"_s));
        // While the device listens, the prompt names the key to press on the remote control; the
        // device's answer takes it down.
        auto *prompt = h.child<QWidget>("learnPrompt");
        auto *promptLabel = h.child<QLabel>("learnPromptLabel");
        h.click(key(7)); // 20℃
        QVERIFY(prompt->isVisible());
        QVERIFY2(promptLabel->text().startsWith(u"请按空调遥控器上的「20℃」键"_s),
                 qPrintable(promptLabel->text()));
        QVERIFY(h.idle());
        QTRY_VERIFY(h.logLines().contains(u"收到参数：01"_s));
        QVERIFY(!prompt->isVisible());
        QCOMPARE(grid(h), u".......P.."_s);
        // Released: nothing goes out and the others stay locked. Pressed again: learnt again.
        QVERIFY(h.clickIdle(key(7)));
        QCOMPARE(grid(h), u".......o.."_s);
        QVERIFY(h.clickIdle(key(7)));
        // Leaving learning mode does not free the keys.
        QVERIFY(h.clickIdle("learningToggle"));
        QCOMPARE(h.button("learningToggle")->text(), u"开始学习"_s);
        QCOMPARE(grid(h), u".......P.."_s);
        QCOMPARE(sim.received(), frames("0001F0 000147 000147 0001F2"));
        QVERIFY(h.messages().isEmpty());
    }

    // The success box comes during the learning frame's reply window; the learning window only
    // starts once the operator has closed it, and the prompt frame counts down to learning mode
    // going off. Meanwhile nothing else can be started.
    void numberedLearningWindowFollowsTheBox()
    {
        QuickSim sim("--learn-delay 100");
        // A short learning window, and a box that stays up longer.
        WindowHarness h(sim, {400, 800, 40, 10, 250, 1500});
        QVERIFY(sim.start() && h.connectPort());
        h.setMessageDelay(450);
        auto *picture = h.child<QWidget>("learnPrompt");
        auto *label = h.child<QLabel>("learnPromptLabel");
        const QString text = label->text();
        h.click("panelSwitchButton");
        h.child<QComboBox>("commandNumberBox")->setEditText(u"001"_s);
        h.child<QLineEdit>("commandNameEdit")->setText(u"开机"_s);

        bool shown = false, locked = true;
        QStringList countdown;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            shown |= picture->isVisible();
            if (h.window().engine().isBusy())
                locked &= h.controlsEnabled(false);
        });
        QObject::connect(&h.window().engine(), &irlearn::DeviceEngine::learningEndsIn, &probe,
                         [&] { countdown << (picture->isVisible() ? label->text() : QString()); });
        h.click("learnCommandButton");
        probe.start(5);
        QVERIFY(sim.waitForReceived(2));
        h.click(key(1));
        QVERIFY(h.clickIdle("readTableButton"));
        probe.stop();

        QCOMPARE(sim.received(), frames("0001F0 000140 0001F2"));
        QCOMPARE(h.messages(), QStringList{u"指令学习成功！"_s});
        QVERIFY(shown);
        QVERIFY(locked);
        QVERIFY(!picture->isVisible());
        // Learnt, the wait before learning mode goes off is said, not silent.
        QCOMPARE(countdown.constFirst(), u"学习成功，1 秒后退出学习状态"_s);
        QCOMPARE(countdown.constLast(), QString());
        QCOMPARE(label->text(), text);
        // Learning mode goes off only after the box, although the window is shorter than it.
        QVERIFY(sim.receivedTimed().at(2).first >= h.messageClosedAt().at(0));
    }
};

QTEST_MAIN(LearningTest)
#include "tst_learning.moc"
