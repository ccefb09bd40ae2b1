#pragma once

#include "mainwindow.h"
#include "simprocess.h"

#include "engine/deviceengine.h"
#include "protocol/timings.h"

#include <QAbstractButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

// A simulator that answers at once and ends a frame on a 5 ms silence: for the window's own
// behaviour, where the line's speed only costs time (tst_faults reads at line speed).
struct QuickSim : SimProcess
{
    // args: the simulator's further options, separated by spaces.
    explicit QuickSim(const char *args = "")
        : SimProcess(QString::fromLatin1("--frame-gap 5 ")
                         .append(QLatin1String(args))
                         .split(QLatin1Char(' '), Qt::SkipEmptyParts),
                     Pace::Instant)
    {
    }
};

// An object name from the form, given as a literal or as a string.
struct ObjectName
{
    ObjectName(const char *name) : text(QLatin1String(name)) {}
    ObjectName(const QString &name) : text(name) {}
    QString text;
};

// The real window on the simulated device, for tests: a settings file in a temporary folder that
// pins the simulator's terminal as COM1, the window built on it with short timings and shown
// (offscreen), its session log in the temporary folder, and the dialogs answered as an operator
// would.
class WindowHarness
{
public:
    // The device's pauses and time limits cut down so that every exchange still happens, in
    // order, in a fraction of the time. The opening pause stays above the simulator's 20 ms
    // frame gap.
    static irlearn::Timings fastTimings() { return {400, 800, 40, 30, 600, 1500}; }
    // For a QuickSim: the pacing between records need not wait for a frame gap.
    static irlearn::Timings quickTimings() { return {400, 800, 40, 10, 600, 1500}; }
    // For a device answering at line speed, where a record takes 268 ms: a paced simulator on a
    // busy machine can lag well beyond that. The wider windows cost nothing unless a test sits one
    // out; the device's own opening pause keeps the opening's frames apart even then.
    static irlearn::Timings lineSpeedTimings() { return {1500, 3000, 100, 30, 600, 1500}; }

    // Saved with COM1 and device 0001; linkPath (the simulator's terminal) is pinned as COM1 when
    // not empty.
    explicit WindowHarness(const QString &linkPath, irlearn::Timings timings = fastTimings());
    // On a QuickSim's terminal.
    explicit WindowHarness(const QuickSim &sim, irlearn::Timings timings = quickTimings())
        : WindowHarness(sim.linkPath(), timings)
    {
    }
    ~WindowHarness();

    irlearn::MainWindow &window() { return *m_window; }
    QString settingsPath() const { return m_dir.filePath(QStringLiteral("VexoSet.ini")); }
    // The session log folder of this window ($XDG_STATE_HOME/irlearn in the temporary folder).
    QString sessionLogFolder() const { return m_dir.filePath(QStringLiteral("state/irlearn")); }

    template <typename T> T *child(const ObjectName &name) const
    {
        return m_window->findChild<T *>(name.text);
    }
    QAbstractButton *button(const ObjectName &name) const { return child<QAbstractButton>(name); }

    // A real mouse click (press and release). The operation it starts runs on; idle() waits.
    void click(QAbstractButton *b) { QTest::mouseClick(b, Qt::LeftButton); }
    void click(const ObjectName &buttonName) { click(button(buttonName)); }
    // Keyboard activation (space bar) of a button.
    void press(const ObjectName &buttonName)
    {
        button(buttonName)->setFocus();
        QTest::keyClick(button(buttonName), Qt::Key_Space);
    }
    // Processes events until no operation runs (up to timeoutMs: a loaded machine can stretch a
    // whole transfer well past its usual second); false on time-out.
    bool idle(int timeoutMs = 10000)
    {
        return QTest::qWaitFor([this] { return !m_window->engine().isBusy(); }, timeoutMs);
    }
    // A click and the operation it starts, run to its end.
    bool clickIdle(const ObjectName &buttonName)
    {
        click(buttonName);
        return idle();
    }

    // Clicks the connect button and waits for the open's outcome; true when the window is
    // connected afterwards.
    bool connectPort()
    {
        click("connectButton");
        return opened() && connected();
    }
    // Waits until the port being opened (if any) is open or has failed; false on time-out.
    bool opened(int timeoutMs = 10000)
    {
        return QTest::qWaitFor([this] { return !m_window->engine().isOpening(); }, timeoutMs);
    }
    bool connected() const { return button("connectButton")->text() == QStringLiteral("断 开"); }
    // Every device control (the toggle, the keys, the number, the transfers, the command table)
    // enabled, or every one disabled; the panel switch stays usable either way.
    bool controlsEnabled(bool enabled) const;
    // The device panel drawn above the command table (a later sibling is drawn above).
    bool deviceInFront() const;
    // A value in the window's settings file, "?" where there is none.
    QString setting(const char *section, const char *key) const;

    // Message boxes shown so far, in order; each is closed messageDelay ms after it opened.
    QStringList messages() const { return m_messages; }
    QStringList messageTitles() const { return m_titles; }
    // Wall-clock time (ms since the epoch, as the simulator logs) each box was closed at.
    QList<qint64> messageClosedAt() const { return m_closedAt; }
    void setMessageDelay(int ms) { m_messageDelay = ms; }

    // Questions ("是"/"否") asked so far.
    QStringList questions() const { return m_questions; }
    // The answer to the next yes/no question.
    void answerNextQuestion(bool yes) { m_questionAnswers << yes; }
    // What to do with the next dialog that is neither a message box nor a file dialog (it is
    // rejected when nothing is queued); runs once the dialog is open.
    void answerNextDialog(std::function<void(QDialog *)> answer) { m_dialogAnswers << answer; }

    // The answer to the next file dialog: a path to choose, or "" to cancel.
    void answerNextFileDialog(const QString &path) { m_fileAnswers << path; }
    QStringList fileDialogTitles() const { return m_fileTitles; }
    // The folder each file dialog started in.
    QStringList fileDialogFolders() const { return m_fileFolders; }

    // The log pane's lines.
    QStringList logLines() const;
    // This window's session log as on disk (stamped, LF), also the lines the pane has let go at
    // its limit; and its lines with the time stamps taken off.
    QByteArray sessionFile() const;
    QStringList sessionLines() const;

    static QByteArray readFile(const QString &path);
    static bool writeFile(const QString &path, const QByteArray &bytes);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<irlearn::MainWindow> m_window;
    QStringList m_messages, m_titles;
    QList<qint64> m_closedAt;
    QStringList m_questions;
    QList<bool> m_questionAnswers;
    QList<std::function<void(QDialog *)>> m_dialogAnswers;
    QStringList m_fileAnswers, m_fileTitles, m_fileFolders;
    int m_messageDelay = 0;
};
