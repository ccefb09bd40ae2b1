// Frames, the exchange and the reply handler, without widgets: the handler acts on a recording
// view while the replies come from the simulated device.
#include "support/simprocess.h"

#include "protocol/devicestate.h"
#include "protocol/exchange.h"
#include "protocol/frames.h"
#include "protocol/replyhandler.h"
#include "protocol/replyview.h"
#include "serial/commcontrol.h"
#include "serial/frameio.h"
#include "base/logpane.h"
#include "serial/waits.h"

#include <QTest>
#include <QThread>

using namespace irlearn;

namespace {

class RecordingView : public ReplyView
{
public:
    bool keyValue(int index) const override { return keys[index]; }
    void setKeyValue(int index, bool pressed) override
    {
        keys[index] = pressed;
        ++keyClicks;
    }
    void setKeyEnabled(int index, bool enabled) override { enabledKeys[index] = enabled; }
    void showMessage(const QString &text) override { messages << text; }
    void setLearnPromptVisible(bool visible) override { prompt = visible; }
    void hideWaitNotice() override { notice = false; }
    void openSavePanel() override { ++savePanelOpened; }

    bool keys[10] = {};
    bool enabledKeys[10] = {};
    int keyClicks = 0;
    QStringList messages;
    bool prompt = true;
    bool notice = true;
    int savePanelOpened = 0;
};

struct Device
{
    explicit Device(const QString &link)
        : comm([link](int port) { return port == 1 ? link : QString(); })
    {
        comm.setInputMode(comm::InputModeBinary);
        comm.setRThreshold(1);
        QObject::connect(&comm, &CommControl::OnComm, &comm, [this] {
            ++depth;
            maxDepth = qMax(maxDepth, depth);
            handler.MSComm1_OnComm();
            --depth;
        });
    }
    QStringList replyLines() const
    {
        QStringList result;
        for (const QString &line : log.text().split(QStringLiteral("\r\n"))) {
            if (line.startsWith(QStringLiteral("收到参数：")))
                result << line;
        }
        return result;
    }
    // The read opening's first two frames, whose answers are discarded.
    void openRead()
    {
        io.Comm_Output(frames::readSelect(QStringLiteral("0001")));
        QThread::msleep(100);
        io.Comm_Output(frames::openSelect);
        QThread::msleep(100);
    }

    DeviceState state;
    CommControl comm;
    LogPane log;
    FrameIO io{comm, log};
    Exchange exchange{state, io};
    RecordingView view;
    ReplyHandler handler{state, comm, io, log, view};
    int depth = 0;
    int maxDepth = 0;
};

} // namespace

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void frameCatalogue();
    void lateReplyIsHandledUnderItsTag();
    void replyWithNoTagIsDropped();
    void otherEventsDoNothing();
    void nestedReadTakesTheRecordOnce();
    void learningResult();
};

void ProtocolTest::frameCatalogue()
{
    const QString dev = QStringLiteral("0001");
    QCOMPARE(frames::learningModeOn(dev), QStringLiteral("0001F0"));
    QCOMPARE(frames::learningModeOff(dev), QStringLiteral("0001F2"));
    QCOMPARE(frames::keyFrame(dev, 0), QStringLiteral("000140"));
    QCOMPARE(frames::keyFrame(dev, 3), QStringLiteral("000143"));
    QCOMPARE(frames::keyFrame(dev, 9), QStringLiteral("000149"));
    QCOMPARE(frames::commandFrame(dev, 1), QStringLiteral("000140"));
    QCOMPARE(frames::commandFrame(dev, 108), QStringLiteral("0001AB"));
    QCOMPARE(frames::setDeviceNumber(QStringLiteral("0002")), QStringLiteral("FD0002"));
    // The transfer openings fit the number to four digits.
    QCOMPARE(frames::readSelect(QStringLiteral(" 1 ")), QStringLiteral("0001ED"));
    QCOMPARE(frames::downloadSelect(QStringLiteral("1")), QStringLiteral("0001DD"));
    QCOMPARE(frames::readSelect(QStringLiteral("123456")), QStringLiteral("3456ED"));

    QVERIFY(frames::isDeviceNumber(QStringLiteral("0012")));
    QVERIFY(!frames::isDeviceNumber(QStringLiteral("12")));
    QVERIFY(!frames::isDeviceNumber(QStringLiteral("00123")));
    QVERIFY(!frames::isDeviceNumber(QStringLiteral("00ab")));
    QVERIFY(!frames::isDeviceNumber(QStringLiteral("1 23")));
}

void ProtocolTest::lateReplyIsHandledUnderItsTag()
{
    SimProcess sim({QStringLiteral("--reply-delay"), QStringLiteral("3000")});
    QVERIFY(sim.start());
    Device d(sim.linkPath());
    QVERIFY(d.comm.setPortOpen(true));

    QCOMPARE(d.exchange.SendCommand(QStringLiteral("0001F0"), frames::tagCommand, 1), QString());
    QVERIFY(d.state.waitReply);
    QCOMPARE(d.state.replyTag, frames::tagCommand);
    QVERIFY(QTest::qWaitFor([&] { return !d.state.waitReply; }, 4000));
    QCOMPARE(d.state.lastReply, QStringLiteral("F0"));
    QCOMPARE(d.state.replyTag, QString());
    QCOMPARE(d.state.replyLen, 0);
    QCOMPARE(d.replyLines(), QStringList{QStringLiteral("收到参数：F0")});
}

void ProtocolTest::replyWithNoTagIsDropped()
{
    SimProcess sim;
    QVERIFY(sim.start());
    Device d(sim.linkPath());
    QVERIFY(d.comm.setPortOpen(true));
    d.state.lastReply = QStringLiteral("earlier");
    d.state.replyLen = 1;

    d.io.Comm_Output(QStringLiteral("0001F0"));                            // nothing registered
    QVERIFY(QTest::qWaitFor([&] { return d.state.replyLen == 0; }, 3000)); // the reply was read
    QCOMPARE(d.comm.InBufferCount(), 0);
    QVERIFY(d.replyLines().isEmpty());
    QCOMPARE(d.state.lastReply, QStringLiteral("earlier"));
}

void ProtocolTest::otherEventsDoNothing()
{
    // A record that overflows a 10-byte buffer raises 1008 and nothing else.
    SimProcess sim;
    QVERIFY(sim.start());
    Device d(sim.linkPath());
    QVERIFY(d.comm.setInBufferSize(10));
    QVERIFY(d.comm.setPortOpen(true));
    d.comm.setRThreshold(200);
    d.openRead();
    d.state.replyTag = frames::tagRecord;
    d.state.replyLen = 257;
    d.io.Comm_Output(frames::openStart);

    QVERIFY(QTest::qWaitFor([&] { return d.comm.CommEvent() == comm::ErRxOver; }, 3000));
    QTest::qWait(100);
    QCOMPARE(d.state.replyTag, frames::tagRecord);
    QCOMPARE(d.state.replyLen, 257);
    QCOMPARE(d.comm.InBufferCount(), 10);
    QVERIFY(d.replyLines().isEmpty());
}

void ProtocolTest::nestedReadTakesTheRecordOnce()
{
    // At the line's real speed the record trickles in: every arrival past 200 bytes raises the
    // event again inside the read that waits for 257.
    SimProcess sim({QStringLiteral("--paced")});
    QVERIFY(sim.start());
    Device d(sim.linkPath());
    QVERIFY(d.comm.setPortOpen(true));
    d.comm.setRThreshold(200);
    d.openRead();
    d.exchange.SendCommand(frames::openStart, frames::tagRecord, 257);

    QVERIFY(QTest::qWaitFor([&] { return d.state.readBytes == 256; }, 5000));
    QVERIFY2(d.maxDepth >= 2, qPrintable(QString::number(d.maxDepth)));
    QCOMPARE(d.replyLines().size(), 1);
    QCOMPARE(d.state.codeRec[0], sim.storedTable().value(0));
    QVERIFY(d.state.Timer1.isActive());
    QVERIFY(d.state.replyTag.isEmpty());
}

void ProtocolTest::learningResult()
{
    SimProcess ok;
    QVERIFY(ok.start());
    {
        Device d(ok.linkPath());
        QVERIFY(d.comm.setPortOpen(true));
        d.view.keys[2] = d.view.keys[5] = true;
        QCOMPARE(d.exchange.SendCommand(QStringLiteral("0001F0")), QStringLiteral("F0"));
        d.exchange.SendCommand(QStringLiteral("000142"), frames::tagLearn, 1);
        QVERIFY(QTest::qWaitFor([&] { return !d.view.messages.isEmpty(); }, 3000));
        QCOMPARE(d.view.messages, QStringList{QStringLiteral("指令学习成功！")});
        for (int i = 0; i < 10; ++i) {
            QVERIFY(!d.view.keys[i]);
            QVERIFY(d.view.enabledKeys[i]);
        }
        QCOMPARE(d.view.keyClicks, 2); // only the pressed keys were released
        QVERIFY(!d.view.prompt);
    }
    ok.kill();

    SimProcess refusing({QStringLiteral("--learn-reply"), QStringLiteral("01")});
    QVERIFY(refusing.start());
    Device d(refusing.linkPath());
    QVERIFY(d.comm.setPortOpen(true));
    d.view.keys[2] = true;
    d.state.waitLearn = true;
    d.exchange.SendCommand(QStringLiteral("0001F0"));
    d.exchange.SendCommand(QStringLiteral("000142"), frames::tagLearn, 1);
    QVERIFY(QTest::qWaitFor([&] { return !d.state.waitLearn; }, 3000));
    QVERIFY(d.view.messages.isEmpty());
    QVERIFY(d.view.keys[2]);
    QCOMPARE(d.view.keyClicks, 0);
    QVERIFY(!d.view.prompt);
    QVERIFY(d.replyLines().contains(QStringLiteral("收到参数：01")));
}

QTEST_GUILESS_MAIN(ProtocolTest)
#include "tst_protocol.moc"
