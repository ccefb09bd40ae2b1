#pragma once

#include "mainwindow.h"
#include "simprocess.h"

#include "protocol/timings.h"

#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class QAbstractButton;

// The real window on the simulated device, for tests: a settings file in a temporary folder that
// pins the simulator's terminal as COM1, the window built on it with short timings and shown
// (offscreen), and the dialogs answered as an operator would.
class WindowHarness
{
public:
    // The device's pauses and time limits cut down so that every exchange still happens, in
    // order, in a fraction of the time. The opening pause stays above the simulator's 20 ms
    // frame gap.
    static irlearn::Timings fastTimings() { return {400, 800, 40, 30, 600, 1500}; }
    // For a device answering at line speed, where a record takes 268 ms: a paced simulator on a
    // busy machine can lag well beyond that. The wider windows cost nothing unless a test sits one
    // out; the device's own opening pause keeps the opening's frames apart even then.
    static irlearn::Timings lineSpeedTimings() { return {1500, 3000, 100, 30, 600, 1500}; }

    // deviceNumber and savedPort go into the saved settings; linkPath (the simulator's terminal)
    // is pinned as COM1 when not empty.
    explicit WindowHarness(const QString &linkPath,
                           const QString &deviceNumber = QStringLiteral("0001"),
                           const QString &savedPort = QStringLiteral("COM1"),
                           irlearn::Timings timings = fastTimings());
    ~WindowHarness();

    irlearn::MainWindow &window() { return *m_window; }
    QString settingsPath() const;
    void pin(const QString &port, const QString &linkPath);

    template <typename T> T *child(const QString &name) const
    {
        return m_window->findChild<T *>(name);
    }
    QAbstractButton *button(const QString &name) const;

    // A real mouse click (press and release). The operation it starts runs on; idle() waits.
    void click(const QString &buttonName);
    void click(QAbstractButton *button);
    // Keyboard activation (space bar) of a button.
    void press(const QString &buttonName);
    // Processes events until no operation runs (up to timeoutMs); false on time-out.
    bool idle(int timeoutMs = 5000);

    // Clicks the connect button; true when the window is connected afterwards.
    bool connectPort();

    // Message boxes shown so far, in order; each is closed messageDelay ms after it opened.
    QStringList messages() const { return m_messages; }
    QStringList messageTitles() const { return m_titles; }
    // Wall-clock time (ms since the epoch, as the simulator logs) each box was closed at.
    QList<qint64> messageClosedAt() const { return m_closedAt; }
    void setMessageDelay(int ms) { m_messageDelay = ms; }

    // The answer to the next file dialog: a path to choose, or "" to cancel.
    void answerNextFileDialog(const QString &path) { m_fileAnswers << path; }
    QStringList fileDialogTitles() const { return m_fileTitles; }

    // The log pane's lines.
    QStringList logLines() const;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<irlearn::MainWindow> m_window;
    QStringList m_messages;
    QStringList m_titles;
    QList<qint64> m_closedAt;
    QStringList m_fileAnswers;
    QStringList m_fileTitles;
    int m_messageDelay = 0;
};
