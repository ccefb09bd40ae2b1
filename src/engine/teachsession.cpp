#include "engine/teachsession.h"

#include "engine/deviceengine.h"
#include "engine/teachhints.h"
#include "protocol/frames.h"

#include <algorithm>

namespace irlearn {

namespace {

bool portGone(Outcome outcome)
{
    return outcome == Outcome::PortLost || outcome == Outcome::NotOpen;
}

// The device answered, or stayed silent: worth another try. Anything else sent nothing.
bool deviceFailure(Outcome outcome)
{
    return outcome == Outcome::Refused || outcome == Outcome::TimedOut ||
           outcome == Outcome::Mismatch;
}

} // namespace

QString TeachItem::name() const
{
    return isKey ? frames::keyNames().at(key()) : QStringLiteral("指令%1").arg(number);
}

KeyStatus TeachItem::labelStatus() const
{
    if (reaction == Reaction::NoReaction)
        return KeyStatus::Failed;
    switch (status) {
    case TeachStatus::Learnt:
        return reaction == Reaction::Reacted ? KeyStatus::Tested : KeyStatus::Learned;
    case TeachStatus::Failed:
        return KeyStatus::Failed;
    case TeachStatus::Skipped:
    case TeachStatus::NotYet:
        break;
    }
    return KeyStatus::Unknown;
}

QString TeachItem::prompt() const
{
    return isKey ? teachhints::keyPrompt(key()) : teachhints::commandPrompt(number);
}

QString TeachItem::hint() const
{
    return isKey ? teachhints::keyHint(key()) : teachhints::commandHint();
}

QList<int> TeachPlan::allKeys()
{
    QList<int> keys;
    for (int i = 0; i < frames::keyCount; ++i)
        keys << i;
    return keys;
}

TeachSession::TeachSession(DeviceEngine &engine, TeachPlan plan, QObject *parent)
    : QObject(parent), m_engine(engine), m_plan(std::move(plan))
{
    QList<int> keys = m_plan.keys;
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    for (int key : keys) {
        if (key < 0 || key >= frames::keyCount)
            continue;
        TeachItem item;
        item.number = key + 1;
        item.isKey = true;
        m_items << item;
    }
    const int first = std::max(m_plan.firstCommand, 1);
    const int last = std::min(m_plan.lastCommand, frames::maxCommand);
    for (int n = first; m_plan.firstCommand > 0 && n <= last; ++n) {
        TeachItem item;
        item.number = n;
        m_items << item;
    }

    connect(&m_engine, &DeviceEngine::finished, this, &TeachSession::engineFinished);
    connect(&m_engine, &DeviceEngine::learningCountdown, this, [this](int secondsLeft) {
        if (m_phase == Phase::Learning)
            emit countdown(secondsLeft);
    });
    connect(&m_engine, &DeviceEngine::connectionLost, this, [this] {
        if (isRunning())
            end(Ending::PortLost);
    });
}

QStringList TeachSession::summary() const
{
    QStringList lines;
    for (const TeachItem &item : m_items) {
        QString state;
        switch (item.status) {
        case TeachStatus::NotYet:
            state = QStringLiteral("未学");
            break;
        case TeachStatus::Learnt:
            state = QStringLiteral("已学会");
            break;
        case TeachStatus::Failed:
            state = item.failure == Outcome::Refused
                        ? QStringLiteral("失败（设备应答 %1）").arg(item.reply)
                        : QStringLiteral("失败（设备无应答）");
            break;
        case TeachStatus::Skipped:
            state = QStringLiteral("已跳过");
            break;
        }
        if (item.reaction == Reaction::Reacted)
            state += QStringLiteral("，试发有反应");
        else if (item.reaction == Reaction::NoReaction)
            state += QStringLiteral("，试发没有反应");
        lines << QStringLiteral("%1：%2（试了%3次）").arg(item.name(), state).arg(item.attempts);
    }
    return lines;
}

QMap<QString, KeyStatus> TeachSession::keyStatuses() const
{
    QMap<QString, KeyStatus> keys;
    for (const TeachItem &item : m_items) {
        if (item.isKey)
            keys.insert(item.name(), item.labelStatus());
    }
    return keys;
}

QMap<int, KeyStatus> TeachSession::commandStatuses() const
{
    QMap<int, KeyStatus> commands;
    for (const TeachItem &item : m_items) {
        if (!item.isKey)
            commands.insert(item.number, item.labelStatus());
    }
    return commands;
}

void TeachSession::setPhase(Phase phase)
{
    if (m_phase == phase)
        return;
    m_phase = phase;
    emit phaseChanged(phase);
}

// Starts one engine operation in `phase`. The engine may refuse it at once, reporting through
// finished() before it returns, so nothing may follow the call here.
bool TeachSession::call(Phase phase, const std::function<bool()> &operation)
{
    setPhase(phase);
    m_awaiting = true;
    return operation();
}

void TeachSession::start()
{
    if (m_phase != Phase::Idle)
        return;
    m_maybeOn = m_plan.learningModeOn;
    for (int i = 0; i < m_items.size(); ++i)
        m_learnQueue << i;
    learnNext();
}

void TeachSession::engineFinished(const OperationResult &result)
{
    // Only the result of the operation this pass started; the window's own operations are not
    // ours, nor is anything after the pass ended.
    if (!m_awaiting)
        return;
    m_awaiting = false;
    if (portGone(result.outcome)) {
        end(Ending::PortLost);
        return;
    }
    switch (m_phase) {
    case Phase::Entering:
        entered(result);
        return;
    case Phase::Learning:
        learnt(result);
        return;
    case Phase::Leaving:
        left(result);
        return;
    case Phase::Sending:
        sent(result);
        return;
    default:
        return;
    }
}

void TeachSession::learnNext()
{
    if (m_cancelled) {
        leave(After::Cancel);
        return;
    }
    if (m_learnQueue.isEmpty()) {
        leave(m_relearning || m_plan.test ? After::Tests : After::Complete);
        return;
    }
    const int item = m_learnQueue.constFirst();
    if (m_items.at(item).isKey && !m_maybeOn) {
        // Once F0 has gone out, F2 is owed whatever the device says to it.
        m_maybeOn = true;
        call(Phase::Entering, [this] { return m_engine.switchLearningMode(m_plan.device, true); });
        return;
    }
    m_tries = 0;
    learn(item);
}

void TeachSession::entered(const OperationResult &result)
{
    emit learningModeSwitched(true, result.ok());
    if (result.ok()) {
        if (m_cancelled) {
            leave(After::Cancel);
            return;
        }
        m_tries = 0;
        learn(m_learnQueue.constFirst());
    } else if (deviceFailure(result.outcome)) {
        leave(After::NoLearningMode);
    } else {
        leave(After::Stop);
    }
}

void TeachSession::learn(int index)
{
    m_current = index;
    TeachItem &item = m_items[index];
    ++item.attempts;
    ++m_tries;
    emit itemChanged(index);
    emit itemStarted(index, item.attempts);
    if (item.isKey) {
        call(Phase::Learning,
             [this, &item] { return m_engine.learnKey(m_plan.device, item.key()); });
    } else {
        // The numbered learning switches learning mode on and off around itself.
        m_maybeOn = true;
        call(Phase::Learning,
             [this, &item] { return m_engine.learnCommand(m_plan.device, item.number); });
    }
}

void TeachSession::learnt(const OperationResult &result)
{
    const int index = m_current;
    TeachItem &item = m_items[index];
    if (!item.isKey)
        m_maybeOn = false; // its learning switched learning mode off on its own way out
    if (!deviceFailure(result.outcome) && !result.ok()) {
        leave(After::Stop);
        return;
    }
    item.reply = result.reply;
    if (result.ok()) {
        item.status = TeachStatus::Learnt;
        item.failure = Outcome::Done;
        m_inARow = 0;
        emit itemChanged(index);
        emit itemLearnt(index);
        m_learnQueue.removeFirst();
        learnNext();
        return;
    }
    item.status = TeachStatus::Failed;
    item.failure = result.outcome == Outcome::Refused ? Outcome::Refused : Outcome::TimedOut;
    ++m_inARow;
    emit itemChanged(index);
    emit itemFailed(index, item.failure, item.reply);
    if (m_inARow >= failuresToWarn)
        emit repeatedFailures(m_inARow);
    if (m_cancelled) {
        leave(After::Cancel);
        return;
    }
    if (m_plan.autoRetries < 0) {
        setPhase(Phase::Deciding);
        return;
    }
    if (m_tries <= m_plan.autoRetries) {
        learn(index);
        return;
    }
    m_learnQueue.removeFirst();
    learnNext();
}

void TeachSession::retry()
{
    if (m_phase != Phase::Deciding)
        return;
    if (m_items.at(m_current).isKey && !m_maybeOn) {
        learnNext(); // back into learning mode first
        return;
    }
    learn(m_current);
}

void TeachSession::skip()
{
    if (m_phase != Phase::Deciding)
        return;
    m_items[m_current].status = TeachStatus::Skipped;
    emit itemChanged(m_current);
    m_learnQueue.removeFirst();
    learnNext();
}

void TeachSession::leave(After after)
{
    m_after = after;
    if (!m_maybeOn) {
        afterLeaving(after);
        return;
    }
    call(Phase::Leaving, [this] { return m_engine.switchLearningMode(m_plan.device, false); });
}

void TeachSession::left(const OperationResult &result)
{
    emit learningModeSwitched(false, result.ok());
    // Whatever the device said to F2: nothing more this pass can do about it.
    m_maybeOn = false;
    afterLeaving(m_cancelled ? After::Cancel : m_after);
}

void TeachSession::afterLeaving(After after)
{
    switch (after) {
    case After::Tests:
        if (m_relearning) {
            m_relearning = false;
            if (m_items.at(m_current).status == TeachStatus::Learnt)
                m_testQueue.prepend(m_current);
        } else {
            for (int i = 0; i < m_items.size(); ++i) {
                if (m_items.at(i).isKey && m_items.at(i).status == TeachStatus::Learnt)
                    m_testQueue << i;
            }
        }
        nextTest();
        return;
    case After::Complete:
        end(Ending::Completed);
        return;
    case After::Cancel:
        end(Ending::Cancelled);
        return;
    case After::NoLearningMode:
        end(Ending::NoLearningMode);
        return;
    case After::Stop:
        end(Ending::Stopped);
        return;
    }
}

void TeachSession::nextTest()
{
    if (m_cancelled) {
        end(Ending::Cancelled);
        return;
    }
    if (m_testQueue.isEmpty()) {
        m_current = -1;
        setPhase(Phase::TestsDone);
        emit testsDone();
        return;
    }
    m_current = m_testQueue.constFirst();
    setPhase(Phase::TestReady);
    emit testReady(m_current);
}

void TeachSession::sendTest()
{
    if (m_phase != Phase::TestReady)
        return;
    call(Phase::Sending,
         [this] { return m_engine.sendKey(m_plan.device, m_items.at(m_current).key()); });
}

void TeachSession::sent(const OperationResult &result)
{
    if (!deviceFailure(result.outcome) && !result.ok()) {
        end(Ending::Stopped);
        return;
    }
    if (m_cancelled) {
        end(Ending::Cancelled);
        return;
    }
    // The unit may react whatever the device said: the operator's eyes decide.
    setPhase(Phase::Answering);
    emit testSent(m_current, result.outcome, result.reply);
}

void TeachSession::skipTest()
{
    if (m_phase != Phase::TestReady)
        return;
    m_testQueue.removeFirst();
    nextTest();
}

void TeachSession::answer(bool reacted)
{
    if (m_phase != Phase::Answering)
        return;
    m_items[m_current].reaction = reacted ? Reaction::Reacted : Reaction::NoReaction;
    emit itemChanged(m_current);
    m_testQueue.removeFirst();
    nextTest();
}

void TeachSession::noAnswer()
{
    if (m_phase != Phase::Answering)
        return;
    m_testQueue.removeFirst();
    nextTest();
}

void TeachSession::relearn(int item)
{
    if ((m_phase != Phase::TestReady && m_phase != Phase::TestsDone) || item < 0 ||
        item >= m_items.size() || !m_items.at(item).isKey)
        return;
    m_testQueue.removeAll(item);
    m_items[item].reaction = Reaction::Untested;
    m_items[item].status = TeachStatus::NotYet;
    emit itemChanged(item);
    m_relearning = true;
    m_learnQueue = {item};
    learnNext();
}

void TeachSession::finish()
{
    if (m_phase == Phase::TestReady || m_phase == Phase::Answering || m_phase == Phase::TestsDone)
        end(Ending::Completed);
}

void TeachSession::cancel()
{
    if (!isRunning()) {
        if (m_phase == Phase::Idle)
            end(Ending::Cancelled);
        return;
    }
    m_cancelled = true;
    switch (m_phase) {
    case Phase::Deciding:
        leave(After::Cancel);
        return;
    case Phase::TestReady:
    case Phase::Answering:
        end(Ending::Cancelled);
        return;
    case Phase::TestsDone:
        end(Ending::Completed);
        return;
    default:
        // An operation is on its way: the pass ends when it has.
        return;
    }
}

void TeachSession::end(Ending ending)
{
    m_awaiting = false;
    m_ending = ending;
    m_current = -1;
    setPhase(Phase::Finished);
    emit finished(ending);
}

} // namespace irlearn
