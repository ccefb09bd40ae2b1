#pragma once

#include "engine/deviceengine.h"
#include "engine/teachsession.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace irlearn::cli {

struct Request;
class Reporter;

// Questions to the operator at the terminal on standard input: one line answers one question.
// Lines typed while nothing is asked are dropped, so that a key pressed early answers nothing.
class TerminalQuestions : public QObject
{
    Q_OBJECT

public:
    explicit TerminalQuestions(QObject *parent = nullptr);
    ~TerminalQuestions() override;

    // Standard input is a terminal that can be asked.
    static bool available();
    // `answer` gets the first character of the next line that starts with one of `choices`;
    // end of input answers QChar() (nobody to ask any more).
    void ask(const QString &choices, std::function<void(QChar)> answer);
    void withdraw() { m_answer = nullptr; }
    bool isAsking() const { return bool(m_answer); }

private:
    void readable();

    QString m_choices;
    std::function<void(QChar)> m_answer;
    QByteArray m_pending;
    QSocketNotifier *m_notifier = nullptr;
    bool m_closed = false;
};

// teach: a guided pass over one device (TeachSession), told on standard error, with the
// operator's decisions asked at the terminal when there is one; then, with -o, the table read and
// saved with the keys' statuses as its labels.
class TeachCommand : public QObject
{
    Q_OBJECT

public:
    static constexpr int started = -1;

    TeachCommand(const Request &request, Reporter &out);
    ~TeachCommand() override;

    int start();
    void interrupt(int signal);

signals:
    void finished(int exitCode);

private:
    void begin();
    void connectSession();
    void decide();
    void sessionFinished(TeachSession::Ending ending);
    void tableRead(const OperationResult &result);
    void end(int code, const QString &word, const QString &message);
    QString itemLabel(int item) const;

    const Request &m_request;
    Reporter &m_out;
    QJsonObject m_json;
    QString m_label;
    QElapsedTimer m_clock;
    std::unique_ptr<DeviceEngine> m_engine;
    std::unique_ptr<TeachSession> m_session;
    TerminalQuestions *m_questions = nullptr; // null: nobody to ask
    int m_signal = 0;
    int m_code = 0;
    bool m_reading = false;
    bool m_leftUnconfirmed = false; // the device did not confirm learning mode off
};

int runTeach(const Request &request, Reporter &out);

} // namespace irlearn::cli
