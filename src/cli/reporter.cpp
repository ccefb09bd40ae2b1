#include "reporter.h"

#include "base/nativepath.h"
#include "base/sessionlog.h"

#include <QJsonDocument>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace irlearn::cli {

namespace {

const QString clearLine = QStringLiteral("\r\x1b[K");

bool stderrIsTerminal()
{
#ifdef Q_OS_UNIX
    return ::isatty(STDERR_FILENO) == 1;
#else
    // Plain lines only: older Windows consoles print escape codes as they are.
    return false;
#endif
}

} // namespace

Reporter::Reporter(bool json) : m_json(json), m_terminal(stderrIsTerminal())
{
}

Reporter::~Reporter() = default;

void Reporter::setFrameLog(std::unique_ptr<SessionLog> log)
{
    m_frameLog = std::move(log);
}

void Reporter::frame(const QString &line, bool verbose)
{
    if (verbose)
        say(line);
    // A log that stops taking lines is said once; the device's work goes on.
    if (m_frameLog && !m_frameLog->append(line) && !m_frameLogFailed) {
        m_frameLogFailed = true;
        say(m_frameLog->problem());
    }
}

void Reporter::write(const QString &text)
{
    // A file name may hold bytes that are not UTF-8: shown readably, never as broken text.
    const QByteArray bytes = readableText(text).toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void Reporter::writeOut(const QByteArray &bytes)
{
    // A full disk or a closed pipe shows at the latest when the buffer is flushed.
    if (std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout) !=
            std::size_t(bytes.size()) ||
        std::fflush(stdout) != 0)
        m_outputFailed = true;
}

void Reporter::print(const QString &text)
{
    const QString line = text.endsWith(QLatin1Char('\n')) ? text : text + QLatin1Char('\n');
    if (m_json) {
        say(line.chopped(1));
        return;
    }
    // Live lines stay where they are: the result comes after them.
    settle();
    writeOut(readableText(line).toUtf8());
}

void Reporter::say(const QString &text)
{
    // Live lines of several ports are drawn again beneath the message.
    m_boardOpen = false;
    if (m_terminal && m_statusOpen) {
        // The message goes where the live line was; the live line follows beneath it.
        write(clearLine + text + QLatin1Char('\n') + m_status);
        return;
    }
    write(text + QLatin1Char('\n'));
}

void Reporter::status(const QString &text)
{
    if (text == m_status && (m_statusOpen || !m_terminal))
        return;
    m_status = text;
    if (m_terminal) {
        write(clearLine + text);
        m_statusOpen = true;
    } else {
        write(text + QLatin1Char('\n'));
    }
}

void Reporter::board(const QStringList &lines)
{
    if (!m_terminal) {
        for (int i = 0; i < lines.size(); ++i) {
            if (i >= m_board.size() || m_board.at(i) != lines.at(i))
                write(lines.at(i) + QLatin1Char('\n'));
        }
        m_board = lines;
        return;
    }
    QString text;
    if (m_boardOpen && !m_board.isEmpty())
        text += QStringLiteral("\x1b[%1A").arg(m_board.size());
    for (const QString &line : lines)
        text += clearLine + line + QLatin1Char('\n');
    write(text);
    m_board = lines;
    m_boardOpen = true;
}

void Reporter::settle()
{
    if (m_terminal && m_statusOpen)
        write(QStringLiteral("\n"));
    m_statusOpen = false;
    m_status.clear();
    m_boardOpen = false;
    m_board.clear();
}

void Reporter::result(const QJsonObject &object)
{
    if (!m_json)
        return;
    writeOut(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

int Reporter::refuse(QJsonObject result, int code, const QString &why, const QString &word)
{
    say(why);
    result.insert(QStringLiteral("exit_code"), code);
    result.insert(QStringLiteral("result"), word);
    result.insert(QStringLiteral("message"), why);
    this->result(result);
    return code;
}

} // namespace irlearn::cli
