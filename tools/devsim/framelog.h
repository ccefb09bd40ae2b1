#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace irlearn::devsim {

// One line per frame, reply or event ("<ms since epoch> RX|TX|EV|BAD <text>"), flushed at once so
// that a test reading the file sees every line the moment the simulator has acted. BAD marks a
// frame the real device would have rejected: the tool sent something it never should.
class FrameLog
{
public:
    // An empty path logs to standard error.
    bool open(const QString &path, QString *error);

    void received(qint64 ms, const QByteArray &frame);
    void sent(const QByteArray &reply);
    void event(const QString &text);
    void flagged(const QString &reason);

private:
    void line(qint64 ms, const char *kind, const QByteArray &text);

    QFile m_file;
};

} // namespace irlearn::devsim
