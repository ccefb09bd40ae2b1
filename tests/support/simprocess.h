#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The device simulator (irlearn-devsim) running as its own process on a pseudo-terminal, for
// tests. Each instance gets its own temporary folder holding the terminal's link, the frame log
// and the dump of the simulator's stored code table.
class SimProcess
{
public:
    // How the simulator sends its answers. At the 9600-baud line's own speed (--paced), a record
    // arrives in pieces over a quarter of a second, as from a real adapter: what the window meets.
    // All at once serves tests of the simulator and the engine that pacing would only slow down.
    enum class Pace { LineSpeed, Instant };

    // extraArgs are passed to the simulator after the link, log and dump options.
    explicit SimProcess(QStringList extraArgs = {}, Pace pace = Pace::LineSpeed);
    ~SimProcess(); // kills the simulator if it still runs

    // Starts the simulator and waits (up to 5 s) until its link exists. False on failure.
    bool start();
    // Kills the simulator at once (an unplugged device) and waits for it to end.
    void kill();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    // The pseudo-terminal's stable path, to pin as a port.
    QString linkPath() const { return m_dir.filePath(QStringLiteral("COM1")); }
    QString logPath() const { return m_dir.filePath(QStringLiteral("sim.log")); }
    // The code file the simulator writes its stored table to.
    QString dumpPath() const { return m_dir.filePath(QStringLiteral("table.bin")); }

    // The frames the simulator received, in order, as upper-case hex text ("0001F0").
    QStringList received() const { return logged("RX"); }
    // The replies the simulator sent, in order, as upper-case hex text.
    QStringList sent() const { return logged("TX"); }
    // The texts of the frame log's lines of one kind (RX, TX, BAD: a frame refused, EV).
    QStringList logged(const QByteArray &kind) const;
    // Received frames with the wall-clock time (ms since the epoch) of their arrival.
    QList<QPair<qint64, QString>> receivedTimed() const { return readLog("RX"); }
    // Sent replies with the wall-clock time (ms since the epoch) their first byte went out.
    QList<QPair<qint64, QString>> sentTimed() const { return readLog("TX"); }

    // Processes events until at least n frames were received or timeoutMs passed.
    bool waitForReceived(int n, int timeoutMs = 5000) const;

    // The simulator's stored table (its dump file) as 16 record texts; empty before any dump.
    QStringList storedTable() const;

private:
    // The frame log's lines of one kind ("RX" received, "TX" sent).
    QList<QPair<qint64, QString>> readLog(const QByteArray &kind) const;

    QStringList m_args;
    QTemporaryDir m_dir;
    QProcess m_process;
};
