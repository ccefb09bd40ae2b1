#include "framelog.h"

#include <QDateTime>

#include <cstdio>

namespace irlearn::devsim {

bool FrameLog::open(const QString &path, QString *error)
{
    bool ok = false;
    if (path.isEmpty()) {
        ok = m_file.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    } else {
        // Appended, so that a simulator started again on the same log (a device plugged back
        // in) continues the record instead of wiping it.
        m_file.setFileName(path);
        ok = m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    }
    if (!ok)
        *error = QStringLiteral("cannot open log %1: %2").arg(path, m_file.errorString());
    return ok;
}

void FrameLog::received(qint64 ms, const QByteArray &frame)
{
    line(ms, "RX", frame.toHex().toUpper());
}

void FrameLog::sent(const QByteArray &reply)
{
    line(QDateTime::currentMSecsSinceEpoch(), "TX", reply.toHex().toUpper());
}

void FrameLog::event(const QString &text)
{
    line(QDateTime::currentMSecsSinceEpoch(), "EV", text.toUtf8());
}

void FrameLog::flagged(const QString &reason)
{
    line(QDateTime::currentMSecsSinceEpoch(), "BAD", reason.toUtf8());
}

void FrameLog::line(qint64 ms, const char *kind, const QByteArray &text)
{
    // One write per line: a reader polling the file never sees half of one.
    m_file.write(QByteArray::number(ms) + ' ' + kind + ' ' + text + '\n');
    m_file.flush();
}

} // namespace irlearn::devsim
