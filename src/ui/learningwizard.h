#pragma once

#include "engine/teachsession.h"

#include <QDialog>
#include <QList>

#include <array>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace irlearn {

class DeviceEngine;

// The window's "学习向导": a non-modal dialog over the guided pass. It shows what the pass
// reports (the button to press and how to set the remote first, the countdown, the result, the
// coverage map of the ten keys) and passes the operator's decisions in; the pass itself lives in
// TeachSession.
//
// Closing it while the pass runs ends the pass cleanly (learning mode off): the dialog hides at
// once and goes away when the pass has ended.
class LearningWizard : public QDialog
{
    Q_OBJECT

public:
    // target: the device number and whether learning mode is on already, asked for when the
    // operator starts the pass (the window's fields may change while the dialog waits).
    LearningWizard(DeviceEngine &engine, std::function<TeachPlan()> target,
                   QWidget *parent = nullptr);

    bool isRunning() const;
    bool hasEnded() const;
    // What became of every key and command so far, for the record kept with a saved table.
    QList<TeachItem> statuses() const;
    const TeachSession *session() const { return m_session; }

signals:
    // The pass has started, or has ended however it ended: the device panel follows.
    void runningChanged(bool running);
    // The pass has ended; one line per key and command.
    void summary(const QStringList &lines);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void start();
    void showPhase(TeachSession::Phase phase);
    void itemStarted(int item, int attempt);
    void itemFailed(int item, Outcome outcome, const QString &reply);
    void testReady(int item);
    void testSent(int item, Outcome outcome, const QString &reply);
    void answered(bool reacted);
    void ended(TeachSession::Ending ending);
    void updateMark(int item);
    void showMark(const TeachItem &key);
    void readAndSave();
    QPushButton *addButton(const QString &text, const char *name);

    DeviceEngine &m_engine;
    std::function<TeachPlan()> m_target;
    QString m_device;
    TeachSession *m_session = nullptr;
    bool m_closing = false;
    int m_noReaction = -1; // the key just found without reaction, to learn again

    QLabel *m_prompt = nullptr;
    QLabel *m_hint = nullptr;
    QLabel *m_countdown = nullptr;
    QLabel *m_result = nullptr;
    QLabel *m_warning = nullptr;
    QLabel *m_commands = nullptr;
    std::array<QLabel *, 10> m_marks{};
    QWidget *m_range = nullptr; // the choice of numbered commands, before the start
    QCheckBox *m_withCommands = nullptr;
    QSpinBox *m_firstCommand = nullptr;
    QSpinBox *m_lastCommand = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_retry = nullptr;
    QPushButton *m_skip = nullptr;
    QPushButton *m_send = nullptr;
    QPushButton *m_skipTest = nullptr;
    QPushButton *m_reacted = nullptr;
    QPushButton *m_notReacted = nullptr;
    QPushButton *m_relearn = nullptr;
    QPushButton *m_finish = nullptr;
    QPushButton *m_readSave = nullptr;
    QPushButton *m_close = nullptr;
};

} // namespace irlearn
