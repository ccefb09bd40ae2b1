#include "device.h"

#include "framelog.h"
#include "ptyline.h"

#include <QTimer>

namespace irlearn::devsim {

namespace {

constexpr char learnOn = char(0xF0);
constexpr char learnOff = char(0xF2);
constexpr char readSelect = char(0xED);
constexpr char downloadSelect = char(0xDD);
constexpr char setNumber = char(0xFD);
constexpr char refused = char(0xF5);
constexpr int notLearnt = 0x01;
constexpr int firstCode = 0x40;
constexpr int lastCode = 0xAB;
constexpr int recordBytes = 257;
// How long an unplugging device waits for the tool to take its last bytes off the terminal.
constexpr int lastWordsMs = 2000;

QByteArray byte(int value)
{
    return QByteArray(1, char(value));
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

} // namespace

Device::Device(const Options &options, const Table &table, PtyLine *line, FrameLog *log,
               QObject *parent)
    : QObject(parent), m_options(options), m_table(table), m_line(line), m_log(log),
      m_deviceNumber(options.deviceNumber), m_noise(options.seed * 0x9E3779B9u + 0x2545F491u)
{
    if (m_noise == 0)
        m_noise = 1;
    dump();
}

void Device::handleFrame(const QByteArray &frame, qint64 firstByteMs)
{
    m_log->received(firstByteMs, frame);

    if (m_options.flood) {
        // The first frame sets it off; everything after drowns in it unanswered.
        if (!m_line->isFlooding()) {
            m_log->event(QStringLiteral("flooding the line"));
            m_line->flood(m_options.seed);
        }
        return;
    }
    if (m_options.garbage) {
        answer(garbageFor(frame));
        return;
    }
    // An opening starts over whatever transfer is under way, as it does on the device.
    if (frame.size() == 3 && frame.left(2) == m_deviceNumber &&
        (frame.at(2) == readSelect || frame.at(2) == downloadSelect)) {
        const bool read = frame.at(2) == readSelect;
        startOpening(read ? Opening::Read : Opening::Download, frame.at(2));
        return;
    }
    if (m_opening != Opening::None) {
        handleOpeningStep(frame);
        return;
    }
    if (m_downloading) {
        receiveRecord(frame);
        return;
    }
    if (m_reading && frame == byte(0x00)) {
        sendNextRecord();
        return;
    }
    if (!handleCommand(frame))
        m_log->event(QStringLiteral("unknown frame, no answer"));
}

bool Device::handleCommand(const QByteArray &frame)
{
    if (frame.size() != 3)
        return false;
    const int op = quint8(frame.at(2));
    const bool addressed = op == quint8(learnOn) || op == quint8(learnOff) ||
                           op == quint8(readSelect) || op == quint8(downloadSelect) ||
                           (op >= firstCode && op <= lastCode);
    const bool ours = frame.left(2) == m_deviceNumber;
    // Device numbers are decimal digits, so "FD" never starts one of ours; but the new number's
    // last byte can look like a command code (FD 00 42).
    if (!(addressed && ours) && frame.at(0) == setNumber) {
        m_deviceNumber = frame.mid(1);
        m_log->event(QStringLiteral("device number now %1").arg(number()));
        answer(byte(quint8(setNumber)));
        return true;
    }
    if (!addressed)
        return false;
    if (!ours) {
        m_log->event(QStringLiteral("addressed to device %1, not %2: ignored")
                         .arg(hex(frame.left(2)), number()));
        return true;
    }
    if (op == quint8(learnOn) || op == quint8(learnOff)) {
        m_learning = op == quint8(learnOn);
        m_log->event(m_learning ? QStringLiteral("learn-mode on")
                                : QStringLiteral("learn-mode off"));
        switch (m_options.echo) {
        case EchoMode::Normal:
            answer(byte(op));
            break;
        case EchoMode::Wrong:
            answer(byte(op + 1));
            break;
        case EchoMode::Silent:
            m_log->event(QStringLiteral("echo withheld"));
            break;
        }
        return true;
    }
    if (op >= firstCode && op <= lastCode) {
        const int command = op - firstCode + 1;
        const auto &reply = m_learning ? m_options.learnReply : m_options.keyReply;
        m_log->event(QStringLiteral("%1 command %2")
                         .arg(m_learning ? QStringLiteral("learning") : QStringLiteral("sending"))
                         .arg(command));
        if (m_learning && learnAsScripted(command))
            return true;
        if (reply)
            answer(*reply,
                   m_learning ? m_options.learnDelayFor.value(command, m_options.learnDelayMs) : 0);
        else
            m_log->event(QStringLiteral("no answer configured"));
        return true;
    }
    return false;
}

// The operator's remote as the options stage it: out of range or aimed badly (ignored), or a
// code the device cannot take (refused), for the first so many tries of a command.
bool Device::learnAsScripted(int command)
{
    const int attempt = ++m_learnings[command];
    const auto applies = [command, attempt](const QMap<int, int> &first) {
        return first.contains(command) &&
               (first.value(command) < 0 || attempt <= first.value(command));
    };
    if (applies(m_options.ignoreLearn)) {
        m_log->event(QStringLiteral("learning %1 of command %2 ignored").arg(attempt).arg(command));
        return true;
    }
    if (applies(m_options.refuseLearn)) {
        m_log->event(QStringLiteral("learning %1 of command %2 refused").arg(attempt).arg(command));
        answer(byte(notLearnt), m_options.learnDelayFor.value(command, m_options.learnDelayMs));
        return true;
    }
    return false;
}

void Device::startOpening(Opening kind, char echo)
{
    m_opening = kind;
    m_openingStep = 1;
    m_reading = false;
    m_downloading = false;
    m_log->event(kind == Opening::Read ? QStringLiteral("read opening")
                                       : QStringLiteral("download opening"));
    answer(QByteArray(1, echo));
}

void Device::handleOpeningStep(const QByteArray &frame)
{
    if (m_openingStep == 1 && frame == byte(0x40)) {
        m_openingStep = 2;
        answer(frame);
        return;
    }
    if (m_openingStep == 2 && frame == byte(0x50)) {
        const Opening kind = m_opening;
        m_opening = Opening::None;
        if (kind == Opening::Read) {
            m_reading = true;
            m_readNext = 0;
            m_readSent = 0;
            sendNextRecord();
        } else {
            m_downloading = true;
            m_downloadSlot = 0;
            answer(byte(quint8(downloadSelect)));
        }
        return;
    }
    m_log->event(QStringLiteral("opening abandoned"));
    m_opening = Opening::None;
    if (!handleCommand(frame))
        m_log->event(QStringLiteral("unknown frame, no answer"));
}

void Device::sendNextRecord()
{
    const int records = int(m_table.size());
    if (m_readNext >= records) {
        if (!m_options.repeatAfterEnd) {
            m_log->event(QStringLiteral("end of table, no answer"));
            return;
        }
        m_readNext = 0;
    }
    if (m_options.stopAfter >= 0 && m_readSent >= m_options.stopAfter) {
        m_log->event(QStringLiteral("record %1 withheld").arg(m_readNext + 1));
        return;
    }
    const int number = m_readNext + 1;
    QByteArray record = m_table.at(m_readNext);
    if (m_options.shortRecord.contains(number))
        record.truncate(m_options.shortRecord.value(number));
    ++m_readNext;
    ++m_readSent;
    m_log->event(QStringLiteral("sent record %1 (%2 bytes)").arg(number).arg(record.size()));
    if (number - 1 == m_options.vanishAfter)
        answer(record, 0, [this, number] { unplug(QStringLiteral("read record %1").arg(number)); });
    else
        answer(record);
}

void Device::receiveRecord(const QByteArray &frame)
{
    const int slot = m_downloadSlot;
    // The device takes nothing but whole records while it downloads; anything else would end up
    // in its table, so it is neither stored nor answered and the slot stays where it was.
    if (frame.size() != recordBytes) {
        if (frame.size() <= 3)
            m_log->flagged(QStringLiteral("not a record, during download of record %1: %2")
                               .arg(slot)
                               .arg(hex(frame)));
        else
            m_log->flagged(QStringLiteral("record %1: %2 bytes, expected %3")
                               .arg(slot)
                               .arg(frame.size())
                               .arg(recordBytes));
        return;
    }
    if (slot == m_options.vanishAfter) {
        unplug(QStringLiteral("download record %1").arg(slot));
        return;
    }
    if (m_options.restartAll || (slot == m_options.restartAt && !m_restartDone)) {
        m_restartDone = true;
        m_downloadSlot = 0;
        m_log->event(QStringLiteral("record %1 not stored, restarting at 0").arg(slot));
        answer(byte(quint8(downloadSelect)));
        return;
    }
    if (m_options.refuseAll || m_options.refuseRecord.value(slot) > 0) {
        if (!m_options.refuseAll)
            --m_options.refuseRecord[slot];
        m_log->event(QStringLiteral("refused record %1").arg(slot));
        answer(byte(quint8(refused)));
        return;
    }
    storeRecord(slot, frame);
}

void Device::storeRecord(int slot, QByteArray record)
{
    if (slot == m_options.wrongRecord) {
        const int at = int(record.size()) / 2;
        record[at] = char(record.at(at) ^ 0x5A);
        m_log->event(QStringLiteral("record %1: byte %2 stored wrong").arg(slot).arg(at));
    }
    m_table[slot] = record;
    dump();
    m_log->event(QStringLiteral("stored record %1").arg(slot));
    answer(byte(0x00));
    if (++m_downloadSlot == int(m_table.size())) {
        // Back to plain commands: a 17th record is an unknown frame and gets no answer.
        m_downloading = false;
        m_log->event(QStringLiteral("download complete"));
    }
}

void Device::unplug(const QString &why)
{
    m_log->event(QStringLiteral("unplugged after %1").arg(why));
    m_line->afterDelivery(lastWordsMs, [this] { emit unplugged(); });
}

QByteArray Device::garbageFor(const QByteArray &frame)
{
    // Nothing the device ever answers with, and not the frame's own last byte, so that no byte of
    // it can pass for an echo, an acknowledgement or a refusal; never 257 bytes, never one.
    static const QByteArray meaningful =
        QByteArray::fromHex(QByteArrayLiteral("004050DDEDF0F2F5FD"));
    auto next = [this] {
        m_noise ^= m_noise << 13;
        m_noise ^= m_noise >> 17;
        m_noise ^= m_noise << 5;
        return m_noise >> 24;
    };
    QByteArray bytes;
    const int length = 2 + int(next() % 4);
    while (bytes.size() < length) {
        const char c = char(next());
        if (!meaningful.contains(c) && c != frame.back())
            bytes.append(c);
    }
    m_log->event(QStringLiteral("garbage instead of an answer"));
    return bytes;
}

void Device::answer(const QByteArray &reply, int delayMs, std::function<void()> then)
{
    const int delay = delayMs + m_options.replyDelayMs;
    auto send = [this, reply, then] {
        m_log->sent(reply);
        m_line->send(reply);
        if (then)
            then();
    };
    if (delay <= 0)
        send();
    else
        QTimer::singleShot(delay, Qt::PreciseTimer, this, send);
}

void Device::dump()
{
    if (m_options.dumpPath.isEmpty())
        return;
    QString error;
    if (!dumpTable(m_options.dumpPath, m_table, &error))
        m_log->event(error);
}

QString Device::number() const
{
    return hex(m_deviceNumber);
}

} // namespace irlearn::devsim
