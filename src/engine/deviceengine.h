#pragma once

#include "codefile/codetable.h"
#include "engine/operation.h"
#include "protocol/timings.h"
#include "serial/devicelink.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

namespace irlearn {

class Exchange;

// One learning device on one port: opens and closes the port and runs the operations the
// operator asks for, one at a time, without ever blocking. Front ends (the window, the command
// line) call the operations and follow the signals; they see no state but through this API.
//
// Every operation reports its end through finished(); one asked for while another runs, without
// a port, or with input that cannot go on the wire is refused at once (the call returns false and
// finished() says why), and nothing is sent. An operation that only still awaits an answer it no
// longer needs is not busy: the next one asked for ends it first (a key's learning as cancelled,
// a read with its table) and starts with no reply outstanding.
//
// Messages for the operator come through message(); a front end calls messageClosed() once the
// operator has closed each (at once, when it shows them in passing). The numbered learning waits
// for that before its learning window runs out.
class DeviceEngine : public QObject
{
    Q_OBJECT

public:
    // An engine on the port an open() names: a serial device or a port server (PortLink).
    explicit DeviceEngine(Timings timings = {}, QObject *parent = nullptr);
    // An engine on any line; the engine takes it over (tests drive it through a scripted line).
    DeviceEngine(DeviceLink *link, Timings timings, QObject *parent = nullptr);
    ~DeviceEngine() override;

    const Timings &timings() const { return m_timings; }

    // Starts opening the port; it ends in opened() or openFailed(), always after open() has
    // returned (a serial device opens at once, a port server takes up to a few seconds). An
    // operation that refuses others refuses the open as well. A close() or another open() before
    // the end withdraws the first.
    void open(const QString &devicePath);
    void close();
    bool isOpen() const;
    bool isOpening() const { return m_opening; }
    // An operation runs that refuses others. One that only still awaits an answer it no longer
    // needs (a key's learning window past its reply window, the extra request after a read)
    // gives way to the next one asked for, which it ends first.
    bool isBusy() const;
    // An operation runs, busy or giving way; it has not yet reported finished().
    bool isRunning() const { return m_current != nullptr; }

    // `device` is the device number as the operator typed it. The learning and key frames carry
    // it as typed and need exactly four decimal digits; the transfers fit it to four characters.
    bool switchLearningMode(const QString &device, bool on);
    bool learnKey(const QString &device, int key); // key 0 to 9
    bool sendKey(const QString &device, int key);
    bool learnCommand(const QString &device, int number); // 1 to 108
    bool setDeviceNumber(const QString &newNumber);
    bool readTable(const QString &device);
    bool verifyTable(const QString &device, const CodeTable &expected);
    bool downloadTable(const QString &device, const CodeTable &table, bool verify = false);

    void messageClosed();
    // Stops the running operation at its next safe point (a download after the record on the
    // wire is answered, a learning after learning mode is switched off again); it finishes as
    // Outcome::Cancelled. Nothing running: nothing happens.
    void cancel();

signals:
    void opened();
    void openFailed(const irlearn::OpenFailure &failure);
    void logLine(const QString &line);
    // A box titled "系统提示" for the operator.
    void message(const QString &text);
    void busyChanged(bool busy);
    // The port vanished; the engine is closed.
    void connectionLost();

    void progress(int done, int total);
    // The wait notice of a transfer: shown with its caption, hidden when the read completes or
    // a fixed time after the transfer started, however it went.
    void noticeShown(const QString &caption);
    void noticeHidden();
    // The prompt to aim the remote control at the device.
    void learnPromptChanged(bool visible);
    void learningCountdown(int secondsLeft);
    // A numbered command was learnt; learning mode goes off in so many seconds (0: now).
    void learningEndsIn(int secondsLeft);
    // A key's learning frame goes out: the operator is to press this key (0 to 9) on the air
    // conditioner's remote control, until learnPromptChanged(false).
    void keyPrompt(int key);
    // A transfer begins a new stage.
    void phaseChanged(irlearn::Phase phase);
    // The device confirmed learning mode on or off.
    void learningModeConfirmed(bool on);
    // The device learnt a command: every key goes back to rest.
    void keyLearnt();
    // A read has all 16 records.
    void tableRead(const irlearn::CodeTable &table);
    void finished(const irlearn::OperationResult &result);

private:
    bool run(Operation *operation);
    bool makeRoom();
    void announceBusy();
    void tell(const QString &text);
    bool refuse(OperationKind kind, Outcome outcome, const QString &detail = QString());
    bool checkDevice(OperationKind kind, const QString &device);
    Operation::Context context();
    void operationFinished(const OperationResult &result);
    void replied(const QString &tag, const QString &reply, bool late);
    void linkLost();

    Timings m_timings;
    DeviceLink *m_link = nullptr;
    Exchange *m_exchange = nullptr;
    QPointer<Operation> m_current;
    QTimer m_notice;
    int m_openMessages = 0;
    bool m_busyAnnounced = false;
    bool m_opening = false;
    int m_opens = 0; // opens and closes so far: a refused open is told only if still the last
};

} // namespace irlearn
