#pragma once

#include "mainwindow.h"
#include "simprocess.h"

#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class QAbstractButton;

// The real window on the simulated device, for tests: a settings file in a temporary folder that
// pins the simulator's terminal as COM1, the window built on it and shown (offscreen), and the
// modal dialogs answered as an operator would.
class WindowHarness
{
public:
    // deviceNumber goes into the saved settings; linkPath (the simulator's terminal) is pinned as
    // COM1 when not empty.
    explicit WindowHarness(const QString &linkPath,
                           const QString &deviceNumber = QStringLiteral("0001"),
                           const QString &savedPort = QStringLiteral("COM1"));
    ~WindowHarness();

    irlearn::MainWindow &window() { return *m_window; }
    irlearn::Session &session() { return m_window->session(); }
    QString settingsPath() const;

    template <typename T> T *child(const QString &name) const
    {
        return m_window->findChild<T *>(name);
    }
    QAbstractButton *button(const QString &name) const;

    // A real mouse click (press and release): the handler runs before this returns.
    void click(const QString &buttonName);
    void click(QAbstractButton *button);
    // Keyboard activation (space bar) of a button.
    void press(const QString &buttonName);

    // Clicks the connect button; true when the window is connected afterwards.
    bool connectPort();

    // Message boxes shown so far (texts), in order; each is closed after messageDelayMs.
    QStringList messages() const { return m_messages; }
    QStringList messageTitles() const { return m_titles; }
    // Monotonic ms (irlearn::waits::nowMs) at which each message box was closed.
    QList<qint64> messageClosedAt() const { return m_closedAt; }
    void setMessageDelay(int ms) { m_messageDelay = ms; }

    // The answer to the next file dialog: a path to choose, or "" to cancel.
    void answerNextFileDialog(const QString &path) { m_fileAnswers << path; }
    QStringList fileDialogTitles() const { return m_fileTitles; }

    QString log() const;
    QStringList logLines() const;

    // Waits, processing events, until pred() holds or timeoutMs passes.
    template <typename Pred> static bool waitFor(Pred pred, int timeoutMs)
    {
        return QTest::qWaitFor(pred, timeoutMs);
    }

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
