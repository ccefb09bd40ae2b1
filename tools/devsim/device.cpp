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
constexpr int firstCode = 0x40;
constexpr int lastCode = 0xAB;

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
      m_deviceNumber(options.deviceNumber)
{
    dump();
}

void Device::handleFrame(const QByteArray &frame, qint64 firstByteMs)
{
    m_log->received(firstByteMs, frame);

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
    // While a download runs, every frame is a record, whatever its bytes look like.
    if (m_downloading) {
        storeRecord(frame);
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
        const auto &reply = m_learning ? m_options.learnReply : m_options.keyReply;
        m_log->event(QStringLiteral("%1 command %2")
                         .arg(m_learning ? QStringLiteral("learning") : QStringLiteral("sending"))
                         .arg(op - firstCode + 1));
        if (reply)
            answer(*reply, m_learning ? m_options.learnDelayMs : 0);
        else
            m_log->event(QStringLiteral("no answer configured"));
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
    answer(record);
}

void Device::storeRecord(const QByteArray &record)
{
    const int slot = m_downloadSlot;
    if (slot == m_options.restartAt && !m_restartDone) {
        m_restartDone = true;
        m_downloadSlot = 0;
        m_log->event(QStringLiteral("record %1 not stored, restarting at 0").arg(slot));
        answer(byte(quint8(downloadSelect)));
        return;
    }
    if (m_options.refuseRecord.value(slot) > 0) {
        --m_options.refuseRecord[slot];
        m_log->event(QStringLiteral("refused record %1").arg(slot));
        answer(byte(quint8(refused)));
        return;
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

void Device::answer(const QByteArray &reply, int delayMs)
{
    const int delay = delayMs + m_options.replyDelayMs;
    auto send = [this, reply] {
        m_log->sent(reply);
        m_line->send(reply);
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
