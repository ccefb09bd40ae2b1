#include "teachcommand.h"

#include "commandline.h"
#include "devicecommand.h"
#include "labelcommands.h"
#include "reporter.h"
#include "runcontext.h"

#include "base/nativepath.h"
#include "codefile/tablecompare.h"
#include "engine/messages.h"
#include "engine/outcomes.h"
#include "engine/teachhints.h"
#include "protocol/frames.h"

#include <QJsonArray>
#include <QTimer>

#include <utility>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <unistd.h>
#endif

namespace irlearn::cli {

namespace {

QString statusWord(const TeachItem &item)
{
    switch (item.status) {
    case TeachStatus::Learnt:
        return QStringLiteral("learned");
    case TeachStatus::Failed:
        return item.failure == Outcome::Refused ? QStringLiteral("refused")
                                                : QStringLiteral("timeout");
    case TeachStatus::Skipped:
        return QStringLiteral("skipped");
    case TeachStatus::NotYet:
        break;
    }
    // The pass stopped before this one was learnt.
    return QStringLiteral("pending");
}

QJsonValue reactionJson(Reaction reaction)
{
    switch (reaction) {
    case Reaction::Reacted:
        return true;
    case Reaction::NoReaction:
        return false;
    case Reaction::Untested:
        break;
    }
    return QJsonValue::Null;
}

QJsonObject itemJson(const TeachItem &item)
{
    QJsonObject o;
    if (item.isKey)
        o.insert(QStringLiteral("key"), item.name());
    else
        o.insert(QStringLiteral("number"), item.number);
    o.insert(QStringLiteral("code"),
             item.isKey ? frames::keyCode(item.key()) : frames::commandCode(item.number));
    o.insert(QStringLiteral("status"), statusWord(item));
    o.insert(QStringLiteral("attempts"), item.attempts);
    o.insert(QStringLiteral("reacted"), reactionJson(item.reaction));
    return o;
}

} // namespace

TerminalQuestions::TerminalQuestions(QObject *parent) : QObject(parent)
{
#ifdef Q_OS_UNIX
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminalQuestions::readable);
#endif
}

TerminalQuestions::~TerminalQuestions() = default;

bool TerminalQuestions::available()
{
#ifdef Q_OS_UNIX
    return ::isatty(STDIN_FILENO) == 1;
#else
    // Windows reads no console here: the pass retries on its own, as in a script.
    return false;
#endif
}

void TerminalQuestions::ask(const QString &choices, std::function<void(QChar)> answer)
{
    m_choices = choices;
    m_answer = std::move(answer);
    m_pending.clear();
    if (m_closed) {
        // Asked after the input ended: answered "nobody" from the event loop, as a line would be.
        QTimer::singleShot(0, this, [this] {
            if (auto answer = std::exchange(m_answer, nullptr))
                answer(QChar());
        });
    }
}

void TerminalQuestions::readable()
{
#ifdef Q_OS_UNIX
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
        m_closed = true;
        m_notifier->setEnabled(false);
        if (auto answer = std::exchange(m_answer, nullptr))
            answer(QChar());
        return;
    }
    if (!m_answer)
        return;
    m_pending.append(buffer, n);
    qsizetype end = 0;
    while ((end = m_pending.indexOf('\n')) >= 0 && m_answer) {
        const QString line = QString::fromUtf8(m_pending.left(end)).trimmed().toLower();
        m_pending.remove(0, end + 1);
        if (!line.isEmpty() && m_choices.contains(line.at(0))) {
            std::exchange(m_answer, nullptr)(line.at(0));
            return;
        }
    }
#endif
}

TeachCommand::TeachCommand(const Request &request, Reporter &out)
    : m_request(request), m_out(out), m_json{{QStringLiteral("command"), request.name}}
{
}

TeachCommand::~TeachCommand() = default;

int TeachCommand::start()
{
    m_clock.start();
    const Request &r = m_request;
    m_json.insert(QStringLiteral("device"), r.device);
    m_json.insert(QStringLiteral("file"), r.file.isEmpty() ? QJsonValue() : QJsonValue(r.file));
    // A whole pass must not end in a file that cannot be written.
    if (!r.file.isEmpty()) {
        if (const QString why = saveTargetProblem(r.file); !why.isEmpty())
            return m_out.refuse(
                m_json, exitUsage,
                QStringLiteral("红外指令文件不能保存到：%1\n%2").arg(displayName(r.file), why),
                QStringLiteral("bad-file"));
    }
    QString why;
    const std::optional<Target> target = resolveTarget(r, r.ports.first(), &why);
    if (!target)
        return m_out.refuse(m_json, exitPortOpen, why, outcomeWord(Outcome::NotOpen));
    m_json.insert(QStringLiteral("port"), target->label);
    m_json.insert(QStringLiteral("path"), target->device);
    m_label = target->label;

    m_engine = std::make_unique<DeviceEngine>(timingsFromEnvironment());
    connect(m_engine.get(), &DeviceEngine::openFailed, this, [this](const OpenFailure &failure) {
        emit finished(
            m_out.refuse(m_json, exitPortOpen, failure.message, outcomeWord(Outcome::NotOpen)));
    });
    connect(m_engine.get(), &DeviceEngine::opened, this, &TeachCommand::begin);
    m_engine->open(target->device);
    return started;
}

void TeachCommand::begin()
{
    const Request &r = m_request;
    connect(m_engine.get(), &DeviceEngine::logLine, this, [this](const QString &line) {
        if (m_request.verbose)
            m_out.say(line);
    });
    connect(m_engine.get(), &DeviceEngine::message, this, [this](const QString &text) {
        m_out.say(text);
        m_engine->messageClosed();
    });
    connect(m_engine.get(), &DeviceEngine::progress, this, [this](int done, int total) {
        if (m_reading)
            m_out.status(QStringLiteral("%1 读取 %2/%3").arg(m_label).arg(done).arg(total));
    });
    connect(m_engine.get(), &DeviceEngine::finished, this, [this](const OperationResult &result) {
        if (m_reading)
            tableRead(result);
    });

    if (TerminalQuestions::available())
        m_questions = new TerminalQuestions(this);
    TeachPlan plan;
    plan.device = r.device;
    plan.keys = r.keys;
    plan.firstCommand = r.firstCommand;
    plan.lastCommand = r.lastCommand;
    plan.autoRetries = m_questions ? -1 : r.retries;
    plan.test = r.test;
    m_session = std::make_unique<TeachSession>(*m_engine, plan);
    connectSession();
    m_out.say(teachhints::general);
    QTimer::singleShot(0, m_session.get(), &TeachSession::start);
}

QString TeachCommand::itemLabel(int item) const
{
    return QStringLiteral("「%1」").arg(m_session->items().at(item).name());
}

void TeachCommand::connectSession()
{
    TeachSession &s = *m_session;
    connect(&s, &TeachSession::learningModeSwitched, this, [this](bool on, bool confirmed) {
        m_out.settle();
        if (!on && !confirmed)
            m_leftUnconfirmed = true;
        if (confirmed)
            m_out.say(on ? QStringLiteral("%1 学习模式已打开").arg(m_label)
                         : QStringLiteral("%1 学习模式已关闭").arg(m_label));
        else
            m_out.say(withNoAnswerHint(
                QStringLiteral("%1 设备没有确认%2学习模式。")
                    .arg(m_label, on ? QStringLiteral("打开") : QStringLiteral("关闭"))));
    });
    connect(&s, &TeachSession::itemStarted, this, [this](int item, int attempt) {
        const TeachItem &it = m_session->items().at(item);
        m_out.settle();
        m_out.say(attempt > 1 ? QStringLiteral("%1（第%2次）").arg(it.prompt()).arg(attempt)
                              : it.prompt());
        m_out.say(QStringLiteral("  ") + it.hint());
    });
    connect(&s, &TeachSession::countdown, this, [this](int secondsLeft) {
        if (m_session->current() >= 0 && secondsLeft > 0)
            m_out.status(QStringLiteral("%1 %2 剩余 %3 秒")
                             .arg(m_label, itemLabel(m_session->current()))
                             .arg(secondsLeft));
    });
    connect(&s, &TeachSession::itemLearnt, this, [this](int item) {
        m_out.settle();
        m_out.say(QStringLiteral("%1 已学会").arg(itemLabel(item)));
    });
    connect(
        &s, &TeachSession::itemFailed, this,
        [this](int item, Outcome outcome, const QString &reply) {
            m_out.settle();
            m_out.say(
                outcome == Outcome::Refused
                    ? QStringLiteral("%1 没有学会（设备应答 %2）").arg(itemLabel(item), reply)
                    : QStringLiteral("%1 没有学会（学习时限内设备无应答）").arg(itemLabel(item)));
        });
    connect(&s, &TeachSession::repeatedFailures, this, [this](int inARow) {
        m_out.say(QStringLiteral("已连续 %1 次没有学会：请检查遥控器与设备的距离和方向，"
                                 "对准设备的接收头再按。")
                      .arg(inARow));
    });
    connect(&s, &TeachSession::phaseChanged, this, [this](TeachSession::Phase phase) {
        if (phase == TeachSession::Phase::Deciding)
            decide();
    });
    connect(&s, &TeachSession::testReady, this, [this](int item) {
        m_out.say(QStringLiteral("试发%1…").arg(itemLabel(item)));
        QTimer::singleShot(0, m_session.get(), &TeachSession::sendTest);
    });
    connect(&s, &TeachSession::testSent, this, [this](int item, Outcome, const QString &) {
        if (!m_questions) {
            m_session->noAnswer();
            return;
        }
        m_out.say(QStringLiteral("%1 已发出：空调有反应吗？（y 空调有反应 / n 没有反应）")
                      .arg(itemLabel(item)));
        m_questions->ask(QStringLiteral("yn"), [this](QChar c) {
            if (c.isNull())
                m_session->noAnswer();
            else
                m_session->answer(c == QLatin1Char('y'));
        });
    });
    connect(&s, &TeachSession::testsDone, this, [this] { m_session->finish(); });
    connect(&s, &TeachSession::finished, this, &TeachCommand::sessionFinished);
}

void TeachCommand::decide()
{
    if (!m_questions) {
        m_session->skip();
        return;
    }
    // Nobody to ask any more (input ended): the key is skipped and the pass goes on.
    m_out.say(QStringLiteral("重试/跳过？（r 重试 / s 跳过）"));
    m_questions->ask(QStringLiteral("rs"), [this](QChar c) {
        if (c == QLatin1Char('r'))
            m_session->retry();
        else
            m_session->skip();
    });
}

void TeachCommand::interrupt(int signal)
{
    if (m_signal != 0)
        return;
    m_signal = signal;
    m_out.say(stoppingText);
    if (m_engine && m_engine->isOpening()) {
        m_engine->close();
        m_json.insert(QStringLiteral("interrupted"), true);
        emit finished(m_out.refuse(m_json, SignalWatch::exitCode(signal),
                                   QStringLiteral("已中断：端口未打开，没有发送任何指令"),
                                   QStringLiteral("interrupted")));
        return;
    }
    if (m_questions)
        m_questions->withdraw();
    if (m_reading) {
        m_engine->cancel();
        return;
    }
    if (!m_session || m_session->phase() == TeachSession::Phase::Finished)
        return;
    // A key's learning window is not waited out: the engine ends it as soon as the line is quiet,
    // and the pass then switches learning mode off.
    const bool learning = m_session->phase() == TeachSession::Phase::Learning;
    m_session->cancel();
    if (learning)
        m_engine->cancel();
}

void TeachCommand::sessionFinished(TeachSession::Ending ending)
{
    m_out.settle();
    if (m_questions)
        m_questions->withdraw();
    const QList<TeachItem> &items = m_session->items();
    for (const QString &line : m_session->summary())
        m_out.say(line);

    bool allLearnt = true;
    for (const TeachItem &item : items) {
        if (item.status != TeachStatus::Learnt || item.reaction == Reaction::NoReaction)
            allLearnt = false;
    }
    if (m_signal != 0 && ending != TeachSession::Ending::PortLost) {
        end(SignalWatch::exitCode(m_signal), QStringLiteral("interrupted"),
            QStringLiteral("已中断：学习未完成，学习模式已关闭"));
        return;
    }
    switch (ending) {
    case TeachSession::Ending::Cancelled:
        break;
    case TeachSession::Ending::PortLost:
        end(exitLost, outcomes::word(Outcome::PortLost), outcomes::message(Outcome::PortLost));
        return;
    case TeachSession::Ending::NoLearningMode:
        end(exitLost, outcomes::word(Outcome::TimedOut),
            withNoAnswerHint(QStringLiteral("设备没有确认学习模式。")));
        return;
    case TeachSession::Ending::Stopped:
        end(exitLost, outcomes::word(Outcome::Busy), QStringLiteral("设备的操作被拒绝，未能继续"));
        return;
    case TeachSession::Ending::Completed:
        break;
    }
    if (m_leftUnconfirmed) {
        // Left in learning mode, the device would learn the next key sent instead of sending it.
        end(exitLost, outcomes::word(Outcome::TimedOut),
            withNoAnswerHint(QStringLiteral("设备没有确认关闭学习模式。")));
        return;
    }
    m_code = allLearnt ? exitDone : exitFailed;
    if (m_request.file.isEmpty()) {
        end(m_code, outcomes::word(allLearnt ? Outcome::Done : Outcome::Refused),
            allLearnt ? QString() : QStringLiteral("有键没有学会、被跳过，或试发时空调没有反应"));
        return;
    }
    m_reading = true;
    m_out.status(QStringLiteral("%1 读取").arg(m_label));
    m_engine->readTable(m_request.device);
}

void TeachCommand::tableRead(const OperationResult &result)
{
    m_reading = false;
    m_out.settle();
    const Request &r = m_request;
    if (m_signal != 0) {
        end(SignalWatch::exitCode(m_signal), QStringLiteral("interrupted"),
            QStringLiteral("已中断：学习已结束，读取未完成，文件未保存"));
        return;
    }
    if (!result.ok()) {
        const QString why = result.detail.isEmpty() || result.quiet
                                ? outcomes::message(result.outcome)
                                : result.detail;
        end(std::max(m_code, outcomes::exitCode(result.outcome)), outcomeWord(result.outcome),
            QStringLiteral("读取失败，文件未保存：%1").arg(why));
        return;
    }
    TableLabels given;
    given.device = r.device;
    given.saved = labels::now();
    given.keys = m_session->keyStatuses();
    given.commands = m_session->commandStatuses();
    applyLabelFields(given, r);
    const labels::Saved saved = labels::save(r.file, result.table, given);
    m_json.insert(QStringLiteral("sha256"),
                  QString::fromLatin1(tables::sha256(result.table).toHex()));
    if (!saved.tableWritten || !saved.labelsWritten) {
        const QString path = saved.tableWritten ? labels::pathFor(r.file) : r.file;
        end(std::max(m_code, int(exitUsage)), QStringLiteral("not-saved"),
            QStringLiteral("%1未保存：%2\n%3")
                .arg(saved.tableWritten ? QStringLiteral("标签文件")
                                        : QStringLiteral("红外指令文件"),
                     displayName(path), saved.error));
        return;
    }
    m_out.say(messages::saved);
    end(m_code, outcomes::word(m_code == exitDone ? Outcome::Done : Outcome::Refused),
        m_code == exitDone ? QString()
                           : QStringLiteral("有键没有学会、被跳过，或试发时空调没有反应"));
}

void TeachCommand::end(int code, const QString &word, const QString &message)
{
    m_out.settle();
    m_engine->close();
    QJsonArray keys;
    QJsonArray commands;
    for (const TeachItem &item : m_session->items())
        (item.isKey ? keys : commands).append(itemJson(item));
    if (message.isEmpty())
        m_out.say(QStringLiteral("%1 完成").arg(m_label));
    else
        m_out.say(QStringLiteral("%1 %2").arg(m_label, message));
    m_json.insert(QStringLiteral("keys"), keys);
    m_json.insert(QStringLiteral("commands"), commands);
    m_json.insert(QStringLiteral("interrupted"), m_signal != 0);
    m_json.insert(QStringLiteral("elapsed_s"), seconds(m_clock));
    m_json.insert(QStringLiteral("exit_code"), code);
    m_json.insert(QStringLiteral("result"), word);
    m_json.insert(QStringLiteral("message"), message);
    m_out.result(m_json);
    emit finished(code);
}

int runTeach(const Request &request, Reporter &out)
{
    return runToTheEnd(std::make_unique<TeachCommand>(request, out));
}

} // namespace irlearn::cli
