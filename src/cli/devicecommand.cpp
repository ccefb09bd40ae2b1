#include "devicecommand.h"

#include "commandline.h"
#include "labelcommands.h"
#include "portjob.h"
#include "reporter.h"
#include "runcontext.h"

#include "base/nativepath.h"
#include "base/regularfile.h"
#include "codefile/codefile.h"
#include "codefile/tablecompare.h"
#include "engine/messages.h"
#include "protocol/frames.h"

#include <QJsonObject>

namespace irlearn::cli {

// Where the table read can be saved: a new or regular file in a folder that takes a new file
// (the file is replaced through one), as the window's save allows. A terminal or any other device
// is refused: 8 KB of hex would go into it. Checked before the device is asked for anything, so
// that an eight-second read is not lost.
QString saveTargetProblem(const QString &path)
{
    const PathKind kind = pathKind(path);
    if (kind != PathKind::Regular && kind != PathKind::Missing)
        return kind == PathKind::CharDevice || kind == PathKind::BlockDevice
                   ? QStringLiteral("这是一个设备，不是普通文件")
                   : pathKindReason(kind);
    if (const QString why = newFileProblem(folderOf(path)); !why.isEmpty())
        return why;
    if (kind == PathKind::Regular && !isWritable(path))
        return QStringLiteral("文件是只读的");
    return QString();
}

namespace {

// A line about records that differ, with the first byte at which each does.
QString differenceText(const CodeTable &read, const CodeTable &expected)
{
    QStringList parts;
    for (const tables::RecordDifference &d : tables::compare(read, expected))
        parts << QStringLiteral("第%1条从第%2字节起").arg(d.record).arg(d.firstByte + 1);
    return QStringLiteral("不一致的记录：%1").arg(parts.join(QStringLiteral("；")));
}

} // namespace

DeviceCommand::DeviceCommand(const Request &request, Reporter &out)
    : m_request(request), m_out(out), m_json{{QStringLiteral("command"), request.name}}
{
}

DeviceCommand::~DeviceCommand() = default;

int DeviceCommand::refuse(int code, const QString &why, const QString &word)
{
    return m_out.refuse(m_json, code, why, word);
}

int DeviceCommand::start()
{
    m_clock.start();
    const Request &r = m_request;
    QJsonObject &json = m_json;
    CodeTable &table = m_table;

    // The files first: a bad one must not cost the device a frame.
    if (r.command == Command::Download || r.command == Command::Verify) {
        json.insert(QStringLiteral("file"), r.file);
        const labels::Labelled labelled =
            labels::load(r.file, r.command == Command::Download ? codefile::notForDownload
                                                                : codefile::notForVerify);
        const codefile::Loaded &file = labelled.file;
        if (!file.ok)
            return refuse(exitUsage, file.message, QStringLiteral("bad-file"));
        if (const QString why = labelRefusal(labelled.labels, r, m_out, json); !why.isEmpty())
            return refuse(exitUsage, why, QStringLiteral("labels-changed"));
        codefile::fill(table, file.lines);
        json.insert(QStringLiteral("sha256"), QString::fromLatin1(tables::sha256(table).toHex()));
    }
    if (r.command == Command::Read) {
        json.insert(QStringLiteral("file"), r.file);
        const QString why = saveTargetProblem(r.file);
        if (!why.isEmpty())
            return refuse(
                exitUsage,
                QStringLiteral("红外指令文件不能保存到：%1\n%2").arg(displayName(r.file), why),
                QStringLiteral("bad-file"));
    }

    QString why;
    const std::optional<Target> target = resolveTarget(r, r.ports.first(), &why);
    if (!target)
        return refuse(exitPortOpen, why, outcomeWord(Outcome::NotOpen));
    json.insert(QStringLiteral("port"), target->label);
    json.insert(QStringLiteral("path"), target->device);

    m_label = target->label;
    m_job = std::make_unique<PortJob>(target->device, timingsFromEnvironment());
    PortJob &job = *m_job;
    const QString device = r.device;
    switch (r.command) {
    case Command::Read:
        job.addStep({QStringLiteral("读取"), [device](DeviceEngine &e) {
                         return e.readTable(device);
                     }});
        break;
    case Command::Download:
        job.addStep({QStringLiteral("写入"), [device, table, verify = r.verify](DeviceEngine &e) {
                         return e.downloadTable(device, table, verify);
                     }});
        break;
    case Command::Verify:
        job.addStep({QStringLiteral("校验"), [device, table](DeviceEngine &e) {
                         return e.verifyTable(device, table);
                     }});
        break;
    case Command::SetNumber:
        json.insert(QStringLiteral("number"), r.newNumber);
        job.addStep({QStringLiteral("设备号"), [number = r.newNumber](DeviceEngine &e) {
                         return e.setDeviceNumber(number);
                     }});
        break;
    case Command::Send:
        json.insert(QStringLiteral("key"), r.key);
        job.addStep({QStringLiteral("发送 %1").arg(frames::keyNames().at(r.key)),
                     [device, key = r.key](DeviceEngine &e) {
                         return e.sendKey(device, key);
                     }});
        break;
    case Command::Learn:
        if (r.key >= 0) {
            // As the window does it: learning mode on, the key, the device's answer, then, unlike
            // the window, learning mode off again, so that a script's next key is sent, not learnt.
            json.insert(QStringLiteral("key"), r.key);
            job.addStep({QStringLiteral("打开学习模式"), [device](DeviceEngine &e) {
                             return e.switchLearningMode(device, true);
                         }});
            job.addStep({QStringLiteral("学习 %1").arg(frames::keyNames().at(r.key)),
                         [device, k = r.key](DeviceEngine &e) {
                             return e.learnKey(device, k);
                         }});
            PortJob::Step off{QStringLiteral("关闭学习模式"), [device](DeviceEngine &e) {
                                  return e.switchLearningMode(device, false);
                              }};
            off.always = true;
            job.addStep(off);
        } else {
            json.insert(QStringLiteral("command_number"), r.number);
            job.addStep({QStringLiteral("学习指令 %1").arg(r.number),
                         [device, n = r.number](DeviceEngine &e) {
                             return e.learnCommand(device, n);
                         }});
        }
        break;
    default:
        break;
    }

    connect(&job, &PortJob::stepStarted, this, [this](const QString &step, int attempt) {
        m_out.status(attempt > 1 ? QStringLiteral("%1 %2（第%3次）").arg(m_label, step).arg(attempt)
                                 : QStringLiteral("%1 %2").arg(m_label, step));
    });
    connect(&job, &PortJob::progress, this, [this](const QString &step, int done, int total) {
        m_out.status(QStringLiteral("%1 %2 %3/%4").arg(m_label, step).arg(done).arg(total));
    });
    connect(&job, &PortJob::countdown, this, [this](int secondsLeft) {
        if (secondsLeft > 0)
            m_out.status(QStringLiteral("%1 请将遥控器对准设备按键，剩余 %2 秒")
                             .arg(m_label)
                             .arg(secondsLeft));
    });
    connect(&job, &PortJob::learningEndsIn, this, [this](int secondsLeft) {
        if (secondsLeft > 0)
            m_out.status(
                QStringLiteral("%1 %2").arg(m_label, messages::learningEndsIn(secondsLeft)));
    });
    connect(&job, &PortJob::logLine, this, [this](const QString &line) {
        m_lastLog = line;
        m_out.frame(line, m_request.verbose);
    });
    connect(&job, &PortJob::note, this, [this](const QString &text) {
        // Details are logged and told both; a verbose run has just shown it.
        if (!(m_request.verbose && text == m_lastLog))
            m_out.say(text);
    });
    connect(&job, &PortJob::finished, this, &DeviceCommand::jobFinished);
    job.start();
    return started;
}

void DeviceCommand::interrupt(int signal)
{
    if (m_signal != 0 || !m_job)
        return;
    m_signal = signal;
    m_out.say(stoppingText);
    m_job->cancel();
}

void DeviceCommand::jobFinished()
{
    m_out.settle();
    const Request &r = m_request;
    Reporter &out = m_out;
    QJsonObject &json = m_json;
    const QString &label = m_label;
    const CodeTable &table = m_table;
    const JobResult &result = m_job->result();
    int code = result.exitCode();
    QString message = result.message;
    if (result.interrupted) {
        code = SignalWatch::exitCode(m_signal);
        message = interruptedText(r.command, result);
    } else if (result.outcome == Outcome::NotOpen) {
        code = exitPortOpen;
    } else if (result.outcome == Outcome::Mismatch) {
        const QString differences = differenceText(result.operation.table, table);
        message += QLatin1Char('\n') + differences;
        json.insert(QStringLiteral("differing"), numbersJson(result.operation.differing));
        // What differs is verify's result; download says it with its failure.
        if (r.command == Command::Verify)
            out.print(differences);
    } else if (result.outcome == Outcome::TimedOut) {
        message = withNoAnswerHint(message);
    }
    json.insert(QStringLiteral("interrupted"), result.interrupted);
    if (result.ok() && r.command == Command::Read) {
        QString error;
        const CodeTable &read = result.operation.table;
        json.insert(QStringLiteral("sha256"), QString::fromLatin1(tables::sha256(read).toHex()));
        // Labels go beside the file when asked for, and also when an earlier file there had
        // some: left as they were, they would describe the table just replaced and refuse it.
        if (!r.labelFields.isEmpty() || pathKind(labels::pathFor(r.file)) != PathKind::Missing) {
            TableLabels given;
            given.device = r.device;
            given.saved = labels::now();
            applyLabelFields(given, r);
            const labels::Saved saved = labels::save(r.file, read, given);
            if (!saved.tableWritten) {
                emit finished(refuse(exitUsage,
                                     QStringLiteral("红外指令文件未保存：%1\n%2")
                                         .arg(displayName(r.file), saved.error),
                                     QStringLiteral("not-saved")));
                return;
            }
            out.say(messages::saved);
            if (!saved.labelsWritten) {
                emit finished(refuse(exitUsage,
                                     QStringLiteral("标签文件未保存：%1\n%2")
                                         .arg(displayName(labels::pathFor(r.file)), saved.error),
                                     QStringLiteral("labels-not-saved")));
                return;
            }
        } else if (!codefile::write(r.file, read, &error)) {
            emit finished(
                refuse(exitUsage,
                       QStringLiteral("红外指令文件未保存：%1\n%2").arg(displayName(r.file), error),
                       QStringLiteral("not-saved")));
            return;
        } else {
            out.say(messages::saved);
        }
    }
    if (result.ok() && r.command == Command::Download && !r.verify)
        out.say(QStringLiteral("%1 下载完成（未校验）").arg(label));
    // What the device answered a key or a new number: the window's log shows it, and so does
    // this.
    if (result.ok() && result.operation.quiet && !result.operation.detail.isEmpty())
        out.say(QStringLiteral("%1 %2").arg(label, result.operation.detail));
    if (result.interrupted) {
        out.say(QStringLiteral("%1 %2").arg(label, message));
    } else if (!result.ok()) {
        const QString step =
            result.outcome == Outcome::VerifyFailed ? QStringLiteral("校验") : result.step;
        out.say(QStringLiteral("%1 失败（%2）：%3").arg(label, step, message));
        if (result.operation.record > 0)
            json.insert(QStringLiteral("record"), result.operation.record);
        if (!result.operation.reply.isEmpty())
            json.insert(QStringLiteral("reply"), result.operation.reply);
    } else {
        out.say(QStringLiteral("%1 完成").arg(label));
        if (r.command == Command::Verify)
            out.print(QStringLiteral("%1条记录与文件一致。").arg(tableRecords));
        if (r.command == Command::Read || r.command == Command::Download)
            out.print(sumAndTime(json.value(QStringLiteral("sha256")).toString(), m_clock));
    }
    json.insert(QStringLiteral("elapsed_s"), seconds(m_clock));
    json.insert(QStringLiteral("exit_code"), code);
    json.insert(QStringLiteral("result"), outcomeWord(result.outcome));
    json.insert(QStringLiteral("message"), message);
    if (r.command == Command::Download)
        json.insert(QStringLiteral("verified"), r.verify && result.ok());
    out.result(json);
    emit finished(code);
}

int runDeviceCommand(const Request &request, Reporter &out)
{
    return runToTheEnd(std::make_unique<DeviceCommand>(request, out));
}

} // namespace irlearn::cli
