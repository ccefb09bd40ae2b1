#pragma once

#include <QByteArray>
#include <QString>

namespace irlearn {

class CommControl;
class LogPane;

// Frames between their text form (hex digit pairs, "0001F0") and the wire, with the log.
class FrameIO
{
public:
    FrameIO(CommControl &comm, LogPane &log);

    // Writes a frame. Empty: nothing at all. Port closed: logs "端口未打开". Otherwise empties the
    // receive and transmit buffers, logs the frame text as passed and writes its bytes; a failure
    // of the port logs "端口连接失败！". In any mode but "hex" the text is written unchanged.
    void Comm_Output(const QString &StrZL, const QString &txFS = hexMode());

    // Waits until at least sLen bytes are waiting (sLen is re-read on every pass: a nested
    // handler that sets it to 0 ends the wait) or 3 to 4 seconds have passed, then returns the
    // whole input buffer as upper-case hex text, trimmed. On time-out returns "" and leaves the
    // bytes in the buffer. sLen of 999 or more waits one second and takes whatever came.
    QString Comm_Input(const qint32 &sLen, const QString &txFS = hexMode());

    // Digit pairs to bytes: a pair is read as hex up to its first non-hex character (a pair that
    // starts with one gives 0); an odd trailing digit becomes a byte of its own.
    static QByteArray hexToBytes(const QString &text);
    static QString bytesToHex(const QByteArray &bytes);

    static QString hexMode() { return QStringLiteral("hex"); }

private:
    CommControl &m_comm;
    LogPane &m_log;
};

} // namespace irlearn
