#include "engine/deviceengine.h"

#include "base/numtext.h"
#include "engine/commandlearning.h"
#include "engine/commandrequest.h"
#include "engine/keylearning.h"
#include "engine/messages.h"
#include "engine/outcomes.h"
#include "engine/tabledownload.h"
#include "engine/tableread.h"
#include "protocol/exchange.h"
#include "protocol/frames.h"
#include "serial/portlink.h"

namespace irlearn {

DeviceEngine::DeviceEngine(Timings timings, QObject *parent)
    : DeviceEngine(new PortLink, timings, parent)
{
}

DeviceEngine::DeviceEngine(DeviceLink *link, Timings timings, QObject *parent)
    : QObject(parent), m_timings(timings), m_link(link)
{
    qRegisterMetaType<irlearn::OperationResult>();
    qRegisterMetaType<irlearn::CodeTable>();
    qRegisterMetaType<irlearn::Phase>();
    m_link->setParent(this);
    m_exchange = new Exchange(*m_link, this);
    connect(m_exchange, &Exchange::logLine, this, &DeviceEngine::logLine);
    connect(m_exchange, &Exchange::replied, this, &DeviceEngine::replied);
    connect(m_exchange, &Exchange::timedOut, this, [this](const QString &tag, int received) {
        if (m_current)
            m_current->timedOut(tag, received);
    });
    connect(m_exchange, &Exchange::stray, this, [this](int bytes) {
        if (m_current)
            m_current->strayBytes(bytes);
    });
    connect(m_link, &DeviceLink::lost, this, &DeviceEngine::linkLost);
    connect(m_link, &DeviceLink::opened, this, [this] {
        m_opening = false;
        emit opened();
    });
    connect(m_link, &DeviceLink::openFailed, this, [this](const OpenFailure &failure) {
        m_opening = false;
        emit openFailed(failure);
    });

    m_notice.setSingleShot(true);
    // A coarse timer may fire 5 % early or late: a second either side of the notice's 20 s.
    m_notice.setTimerType(Qt::PreciseTimer);
    connect(&m_notice, &QTimer::timeout, this, &DeviceEngine::noticeHidden);
}

DeviceEngine::~DeviceEngine()
{
    // Operations report to the engine; none may outlive it mid-way.
    if (m_current)
        m_current->disconnect(this);
}

void DeviceEngine::open(const QString &devicePath)
{
    if (!makeRoom()) {
        const OpenFailure busy{PortState::Other, outcomes::message(Outcome::Busy)};
        QTimer::singleShot(0, this, [this, busy, ticket = ++m_opens] {
            if (ticket == m_opens)
                emit openFailed(busy);
        });
        return;
    }
    ++m_opens;
    m_exchange->cancel();
    m_opening = true;
    m_link->open(devicePath);
}

void DeviceEngine::close()
{
    ++m_opens;
    m_opening = false;
    if (m_current)
        m_current->portLost();
    m_exchange->cancel();
    m_link->close();
}

bool DeviceEngine::isOpen() const
{
    return m_link->isOpen();
}

Operation::Context DeviceEngine::context()
{
    return {m_exchange, m_timings, [this] {
                return m_openMessages > 0;
            }};
}

bool DeviceEngine::refuse(OperationKind kind, Outcome outcome, const QString &detail)
{
    OperationResult result;
    result.kind = kind;
    result.outcome = outcome;
    result.detail = detail;
    if (!detail.isEmpty())
        tell(detail);
    emit finished(result);
    return false;
}

bool DeviceEngine::checkDevice(OperationKind kind, const QString &device)
{
    // The learning frames carry the number as typed: anything but four decimal digits would put
    // a malformed frame on the wire, addressed to some other device.
    return frames::isDeviceNumber(device) ||
           refuse(kind, Outcome::Invalid, messages::deviceNumberLength);
}

bool DeviceEngine::isBusy() const
{
    return m_current && !m_current->isInterruptible();
}

bool DeviceEngine::makeRoom()
{
    if (!m_current)
        return true;
    if (!m_current->isInterruptible() || !m_current->interrupt())
        return false;
    // interrupt() finished it: operationFinished() has let it go.
    return !m_current;
}

bool DeviceEngine::run(Operation *operation)
{
    if (!makeRoom()) {
        const OperationKind kind = operation->kind();
        delete operation;
        return refuse(kind, Outcome::Busy);
    }
    if (!m_link->isOpen()) {
        const OperationKind kind = operation->kind();
        delete operation;
        return refuse(kind, Outcome::NotOpen);
    }
    operation->setParent(this);
    m_current = operation;
    // Whatever an earlier operation still waited for is no reply to this one.
    m_exchange->begin();
    connect(operation, &Operation::logLine, this, &DeviceEngine::logLine);
    connect(operation, &Operation::progress, this, &DeviceEngine::progress);
    connect(operation, &Operation::noticeShown, this, [this](const QString &caption) {
        m_notice.start(m_timings.noticeMs);
        emit noticeShown(caption);
    });
    connect(operation, &Operation::noticeHidden, this, [this] {
        m_notice.stop();
        emit noticeHidden();
    });
    connect(operation, &Operation::learnPromptChanged, this, &DeviceEngine::learnPromptChanged);
    connect(operation, &Operation::learningCountdown, this, &DeviceEngine::learningCountdown);
    connect(operation, &Operation::learningEndsIn, this, &DeviceEngine::learningEndsIn);
    connect(operation, &Operation::keyPrompt, this, &DeviceEngine::keyPrompt);
    connect(operation, &Operation::phaseChanged, this, &DeviceEngine::phaseChanged);
    connect(operation, &Operation::interruptibleChanged, this, &DeviceEngine::announceBusy);
    connect(operation, &Operation::learningModeConfirmed, this,
            &DeviceEngine::learningModeConfirmed);
    connect(operation, &Operation::tableRead, this, &DeviceEngine::tableRead);
    connect(operation, &Operation::finished, this, &DeviceEngine::operationFinished);
    announceBusy();
    operation->start();
    return true;
}

void DeviceEngine::announceBusy()
{
    const bool busy = isBusy();
    if (busy == m_busyAnnounced)
        return;
    m_busyAnnounced = busy;
    emit busyChanged(busy);
}

void DeviceEngine::operationFinished(const OperationResult &result)
{
    Operation *operation = m_current;
    m_current = nullptr;
    if (operation)
        operation->deleteLater();
    // The notice comes down when the transfer ends, however it ends.
    if (m_notice.isActive()) {
        m_notice.stop();
        emit noticeHidden();
    }
    if (!result.detail.isEmpty() && !result.quiet) {
        emit logLine(result.detail);
        tell(result.detail);
    }
    announceBusy();
    emit finished(result);
}

void DeviceEngine::replied(const QString &tag, const QString &reply, bool late)
{
    // A learning result means the same whenever it comes, even after its operation gave up
    // waiting: the keys go back to rest on success, and the prompt comes down either way.
    if (tag == frames::tagLearn) {
        if (reply == frames::learnt) {
            emit keyLearnt();
            tell(messages::learnt);
        }
        emit learnPromptChanged(false);
    }
    if (m_current)
        m_current->replied(tag, reply, late);
}

void DeviceEngine::tell(const QString &text)
{
    // Counted before it goes out: a front end may close it before emit returns.
    ++m_openMessages;
    emit message(text);
}

void DeviceEngine::messageClosed()
{
    if (m_openMessages > 0)
        --m_openMessages;
    if (m_openMessages == 0 && m_current)
        m_current->messagesClosed();
}

void DeviceEngine::cancel()
{
    if (m_current)
        m_current->cancel();
}

void DeviceEngine::linkLost()
{
    m_exchange->cancel();
    emit logLine(QStringLiteral("端口连接失败！"));
    if (m_current)
        m_current->portLost();
    emit connectionLost();
}

bool DeviceEngine::switchLearningMode(const QString &device, bool on)
{
    if (!checkDevice(OperationKind::LearningMode, device))
        return false;
    if (!run(new CommandRequest(
            OperationKind::LearningMode, context(),
            on ? frames::learningModeOn(device) : frames::learningModeOff(device),
            frames::tagCommand, on ? frames::learnOnEcho : frames::learnOffEcho)))
        return false;
    // The device no longer listens for a key.
    if (!on)
        emit learnPromptChanged(false);
    return true;
}

bool DeviceEngine::learnKey(const QString &device, int key)
{
    if (key < 0 || key >= frames::keyCount)
        return refuse(OperationKind::LearnKey, Outcome::Invalid);
    if (!checkDevice(OperationKind::LearnKey, device))
        return false;
    return run(new KeyLearning(context(), device, key));
}

bool DeviceEngine::sendKey(const QString &device, int key)
{
    if (key < 0 || key >= frames::keyCount)
        return refuse(OperationKind::SendKey, Outcome::Invalid);
    if (!checkDevice(OperationKind::SendKey, device))
        return false;
    return run(new CommandRequest(OperationKind::SendKey, context(), frames::keyFrame(device, key),
                                  frames::tagCommand, QString()));
}

bool DeviceEngine::learnCommand(const QString &device, int number)
{
    if (number < 1 || number > frames::maxCommand)
        return refuse(OperationKind::LearnCommand, Outcome::Invalid, messages::commandNumber);
    if (!checkDevice(OperationKind::LearnCommand, device))
        return false;
    return run(new CommandLearning(context(), device, number));
}

bool DeviceEngine::setDeviceNumber(const QString &newNumber)
{
    const OperationKind kind = OperationKind::SetDeviceNumber;
    if (newNumber.isEmpty())
        return refuse(kind, Outcome::Invalid);
    if (textValue(newNumber) <= 0)
        return refuse(kind, Outcome::Invalid, messages::deviceNumberZero);
    // Four decimal digits: the device takes them as its two address bytes.
    if (!frames::isDeviceNumber(newNumber))
        return refuse(kind, Outcome::Invalid, messages::deviceNumberLength);
    return run(new CommandRequest(kind, context(), frames::setDeviceNumber(newNumber),
                                  frames::tagCommand, QString()));
}

bool DeviceEngine::readTable(const QString &device)
{
    return run(new TableRead(context(), device));
}

bool DeviceEngine::verifyTable(const QString &device, const CodeTable &expected)
{
    return run(new TableRead(context(), device, expected, OperationKind::VerifyTable));
}

bool DeviceEngine::downloadTable(const QString &device, const CodeTable &table, bool verify)
{
    return run(new TableDownload(context(), device, table, verify));
}

} // namespace irlearn
