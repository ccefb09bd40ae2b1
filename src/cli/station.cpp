#include "station.h"

#include "commandline.h"
#include "labelcommands.h"
#include "portjob.h"
#include "reporter.h"
#include "runcontext.h"

#include "base/nativepath.h"
#include "base/regularfile.h"
#include "codefile/codefile.h"
#include "codefile/tablecompare.h"
#include "serial/networkaddress.h"
#include "serial/networkpresence.h"
#include "serial/portinfo.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>

namespace irlearn::cli {

namespace {

// Often enough that a device plugged in is started well within a third of a second.
constexpr int pollMs = 150;

QString numberText(int number)
{
    return QStringLiteral("%1").arg(number, 4, 10, QLatin1Char('0'));
}

// The entries a pattern names now: the path itself, the matches of its last part's wildcards, or
// a folder's entries.
QStringList matches(const QString &pattern)
{
    const QFileInfo info(pattern);
    // A folder stands for every entry in it.
    const bool folder = info.isDir();
    const QString name = folder ? QStringLiteral("*") : info.fileName();
    if (!name.contains(QLatin1Char('*')) && !name.contains(QLatin1Char('?')) &&
        !name.contains(QLatin1Char('[')))
        return {pattern};
    QDir dir(folder ? pattern : info.path());
    QStringList found;
    const auto entries =
        dir.entryInfoList({name}, QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries)
        found << entry.filePath();
    return found;
}

} // namespace

Station::Station(const Request &request, Reporter &out) : PortRun(request, out)
{
    m_poll.setInterval(pollMs);
    connect(&m_poll, &QTimer::timeout, this, &Station::look);
}

Station::~Station() = default;

int Station::start()
{
    const Request &r = m_request;
    QJsonObject json{{QStringLiteral("command"), r.name}, {QStringLiteral("file"), r.file}};
    auto refuse = [&](int code, const QString &why, const QString &word) {
        return m_out.refuse(json, code, why, word);
    };
    const labels::Labelled labelled = labels::load(r.file, codefile::notForDownload);
    if (!labelled.file.ok)
        return refuse(exitUsage, labelled.file.message, QStringLiteral("bad-file"));
    if (const QString why = labelRefusal(labelled.labels, r, m_out, json); !why.isEmpty())
        return refuse(exitUsage, why, QStringLiteral("labels-changed"));
    codefile::fill(m_table, labelled.file.lines);
    m_sum = QString::fromLatin1(tables::sha256(m_table).toHex());

    QList<std::pair<NetworkAddress, QString>> servers;
    for (int i = 0; i < r.ports.size(); ++i) {
        const QString &port = r.ports.at(i);
        if (!isNetworkAddress(port)) {
            m_sources.append({port, r.portDevices.value(i), false});
            continue;
        }
        QString why;
        const std::optional<NetworkAddress> address = parseNetworkAddress(port, &why);
        if (!address)
            return refuse(exitUsage, QStringLiteral("%1：%2").arg(port, why),
                          QStringLiteral("usage"));
        servers.append({*address, r.portDevices.value(i)});
    }
    for (const QString &glob : r.watch)
        m_sources.append({glob, QString(), false});
    if (r.systemPorts)
        m_sources.append({QString(), QString(), true});

    if (!r.log.isEmpty()) {
        QString why = pathKindReason(PathKind::Directory);
        if (pathKind(r.log) == PathKind::Directory ||
            !openFile(m_log, r.log, QIODevice::WriteOnly | QIODevice::Append, &why))
            return refuse(exitUsage,
                          QStringLiteral("无法写入记录文件 %1：%2").arg(displayName(r.log), why),
                          QStringLiteral("usage"));
    }
    if (!r.numberFrom.isEmpty())
        m_nextNumber = r.numberFrom.toInt();

    m_out.say(QStringLiteral("工作站已就绪：插上设备即开始写入（SHA-256 %1），按 Ctrl-C 结束。")
                  .arg(m_sum.left(12)));
    m_poll.start();
    QTimer::singleShot(0, this, &Station::look);
    for (const auto &[address, device] : std::as_const(servers))
        watchServer(address, device);
    return started;
}

void Station::watchServer(const NetworkAddress &address, const QString &device)
{
    const QString key = address.protocol == NetworkAddress::Rfc2217
                            ? QStringLiteral("rfc2217://%1").arg(address.hostAndPort())
                            : QStringLiteral("tcp://%1").arg(address.hostAndPort());
    // A refused connection only means "not there yet": tried again, said nothing.
    auto *server = new NetworkPresence(address, pollMs, serverGraceMs(), this);
    m_servers << server;
    connect(server, &NetworkPresence::appeared, this, [this, server, key, device] {
        if (m_stopping)
            return;
        begin(key, key, device);
        m_slots[key].server = server;
    });
    connect(server, &NetworkPresence::gone, this, [this, server, key] {
        m_out.say(QStringLiteral("%1: 连接已断开").arg(key));
        m_slots.remove(key);
        if (!m_stopping)
            server->watch();
    });
    server->watch();
}

void Station::look()
{
    // Every port present now, by its device: two names of one port are one port.
    QMap<QString, std::pair<QString, QString>> present; // canonical -> (path, device number)
    for (const Source &source : std::as_const(m_sources)) {
        if (source.system) {
            const auto infos = QSerialPortInfo::availablePorts();
            for (const QSerialPortInfo &info : infos) {
                if (!info.hasVendorIdentifier())
                    continue;
                const QString path = info.systemLocation();
                const QString canonical = canonicalPath(path);
                if (!present.contains(canonical))
                    present.insert(canonical, {path, QString()});
            }
            continue;
        }
        for (const QString &path : matches(source.pattern)) {
            const QString canonical = QFileInfo(path).canonicalFilePath();
            if (canonical.isEmpty() || QFileInfo(canonical).isDir())
                continue;
            if (!present.contains(canonical))
                present.insert(canonical, {path, source.device});
        }
    }

    for (auto it = m_slots.begin(); it != m_slots.end();) {
        Slot &slot = it.value();
        if (slot.server) {
            ++it;
            continue;
        }
        slot.present = present.contains(it.key());
        if (!slot.present)
            slot.wentAway = true;
        if (slot.settled && !slot.present) {
            m_out.say(QStringLiteral("%1: 已拔下").arg(slot.path));
            it = m_slots.erase(it);
            continue;
        }
        ++it;
    }
    if (m_stopping)
        return;
    for (auto it = present.cbegin(); it != present.cend(); ++it) {
        if (!m_slots.contains(it.key()))
            begin(it.key(), it.value().first, it.value().second);
    }
}

void Station::begin(const QString &key, const QString &path, const QString &device)
{
    const Request &r = m_request;
    Slot &slot = m_slots[key];
    slot = Slot();
    slot.path = path;
    slot.device = device.isEmpty() ? r.device : device;
    slot.clock.start();
    auto *job = new PortJob(path, timingsFromEnvironment(), this);
    slot.job = job;
    job->addStep({QStringLiteral("写入"),
                  [this, device = slot.device](DeviceEngine &e) {
                      return e.downloadTable(device, m_table, m_request.verify);
                  },
                  QStringLiteral("download")});
    if (m_nextNumber > 0) {
        // The number is taken only when its step starts, and never given again, even when that
        // step fails: the device may have taken it all the same.
        job->addStep({QStringLiteral("设备号"),
                      [this, key](DeviceEngine &e) {
                          // Past 9999 the engine refuses the number and sends nothing.
                          if (m_nextNumber > 9999)
                              return e.setDeviceNumber(numberText(m_nextNumber));
                          const QString number = numberText(m_nextNumber++);
                          m_numbersUsed << number;
                          m_slots[key].number = number;
                          return e.setDeviceNumber(number);
                      },
                      QStringLiteral("set-number")});
    }
    // A port server's silent device is tried again and again: its steps are said once.
    if (!m_unanswered.contains(key)) {
        connect(job, &PortJob::stepStarted, this, [this, key](const QString &step, int) {
            const Slot &s = m_slots[key];
            m_out.say(QStringLiteral("%1: %2%3")
                          .arg(s.path, step,
                               s.number.isEmpty() ? QString() : QLatin1Char(' ') + s.number));
        });
        connect(job, &PortJob::note, this, [this, path](const QString &text) {
            m_out.say(QStringLiteral("%1: %2").arg(path, text));
        });
    }
    if (r.verbose)
        connect(job, &PortJob::logLine, this, [this, path](const QString &line) {
            m_out.say(QStringLiteral("%1: %2").arg(path, line));
        });
    connect(job, &PortJob::finished, this, [this, key] { jobEnded(key); });
    job->start();
    // Looked up after the first frame is on its way: it may read /proc and sysfs.
    const QString serial = isNetworkAddress(path) ? QString() : describePort(path).serialNumber;
    slot.identity = serial.isEmpty() ? path : serial;
    if (!m_unanswered.contains(key))
        m_out.say(QStringLiteral("%1: 新设备（%2）").arg(path, slot.identity));
}

void Station::jobEnded(const QString &key)
{
    Slot &slot = m_slots[key];
    const JobResult &result = slot.job->result();
    const bool ok = result.ok();
    if (slot.server && serverNotThere(slot)) {
        // Said once: it is tried again and again until the device is there.
        if (!m_unanswered.contains(key))
            m_out.say(
                QStringLiteral("%1: 未连上设备（%2），稍后再试").arg(slot.path, result.message));
        m_unanswered.insert(key);
        slot.job->deleteLater();
        NetworkPresence *server = slot.server;
        m_slots.remove(key);
        if (!m_stopping)
            server->watch();
        maybeFinish();
        return;
    }
    const QString shown = slot.identity == slot.path
                              ? slot.path
                              : QStringLiteral("%1（%2）").arg(slot.path, slot.identity);
    m_unanswered.remove(key);
    if (ok) {
        ++m_written;
        m_lastCode[slot.identity] = exitDone;
        m_out.print(QStringLiteral("%1  设备号 %2  完成 → 可以拔下")
                        .arg(shown, slot.number.isEmpty() ? slot.device : slot.number));
    } else {
        ++m_failures;
        int code = result.exitCode();
        if (result.outcome == Outcome::NotOpen)
            code = exitPortOpen;
        m_lastCode[slot.identity] = code;
        m_out.print(QStringLiteral("%1  失败（%2）：%3").arg(shown, result.step, result.message));
    }
    writeLog(slot, ok);
    slot.job->deleteLater();
    slot.job = nullptr;
    slot.settled = true;
    // Behind a port server, the device counts as gone when the server drops a connection held
    // open (sending nothing) from now on.
    if (slot.server) {
        slot.server->hold();
        maybeFinish();
        return;
    }
    // Gone and back while it was being written: a new device on that port, or the same one
    // plugged in again, is written anew.
    if (!slot.present)
        m_out.say(QStringLiteral("%1: 已拔下").arg(slot.path));
    if (slot.wentAway || !slot.present)
        m_slots.remove(key);
    maybeFinish();
}

bool Station::serverNotThere(const Slot &slot) const
{
    // The server took the connection but let it go at once (its device is not plugged in), or
    // the device behind it never answered the first frame: nothing was written, so nothing
    // failed. A line lost later is a failure like an adapter pulled out mid-way.
    const JobResult &result = slot.job->result();
    if (result.outcome == Outcome::NotOpen)
        return result.stepWord == QLatin1String("open");
    return result.outcome == Outcome::TimedOut && result.stepWord == QLatin1String("download") &&
           result.done == 0 && result.operation.reply.isEmpty();
}

void Station::writeLog(const Slot &slot, bool ok)
{
    if (!m_log.isOpen())
        return;
    const JobResult &result = slot.job->result();
    QJsonArray failed;
    if (!ok) {
        if (!result.operation.differing.isEmpty())
            failed = numbersJson(result.operation.differing);
        else if (result.operation.record > 0)
            failed.append(result.operation.record);
    }
    const QString serial = slot.identity == slot.path ? QString() : slot.identity;
    // Local time with its offset: a batch's lines read right wherever they are read.
    const QDateTime now = QDateTime::currentDateTime();
    const QJsonObject line{
        {QStringLiteral("time"),
         now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs)},
        {QStringLiteral("port"), slot.path},
        {QStringLiteral("usb_serial"), serial.isEmpty() ? QJsonValue() : QJsonValue(serial)},
        {QStringLiteral("device"), slot.device},
        {QStringLiteral("number"), slot.number.isEmpty() ? QJsonValue() : QJsonValue(slot.number)},
        {QStringLiteral("sha256"), m_sum},
        {QStringLiteral("result"), outcomeWord(result.outcome)},
        {QStringLiteral("failed_records"), failed},
        {QStringLiteral("seconds"), seconds(slot.clock)}};
    // One line per device, on disk before the next: the batch's record survives a crash.
    if (m_log.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n') < 0 ||
        !m_log.flush())
        m_out.say(
            QStringLiteral("无法写入记录文件 %1：%2").arg(m_log.fileName(), m_log.errorString()));
}

void Station::interrupt(int)
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_poll.stop();
    for (NetworkPresence *server : std::as_const(m_servers))
        server->stop();
    m_out.say(
        QStringLiteral("收到中断信号，等正在写入的设备完成后结束…（再按一次 Ctrl-C 立即退出）"));
    maybeFinish();
}

void Station::maybeFinish()
{
    if (!m_stopping || m_done)
        return;
    for (const Slot &slot : std::as_const(m_slots)) {
        if (slot.job)
            return;
    }
    m_done = true;
    emit finished(summarise());
}

int Station::summarise()
{
    // A device that failed and was written later (plugged in again) counts as written.
    int code = exitDone;
    QStringList failing;
    for (auto it = m_lastCode.cbegin(); it != m_lastCode.cend(); ++it) {
        code = qMax(code, it.value());
        if (it.value() != exitDone)
            failing << it.key();
    }
    m_out.print(
        QStringLiteral("已写入 %1 台，失败 %2 次%3；用掉的设备号：%4")
            .arg(m_written)
            .arg(m_failures)
            .arg(failing.isEmpty()
                     ? QString()
                     : QStringLiteral("（仍未写好：%1）").arg(failing.join(QStringLiteral("、"))))
            .arg(m_numbersUsed.isEmpty() ? QStringLiteral("无")
                                         : m_numbersUsed.join(QLatin1Char(' '))));
    QJsonArray numbers;
    for (const QString &n : std::as_const(m_numbersUsed))
        numbers.append(n);
    QJsonArray unwritten;
    for (const QString &id : std::as_const(failing))
        unwritten.append(id);
    m_out.result({{QStringLiteral("command"), m_request.name},
                  {QStringLiteral("file"), m_request.file},
                  {QStringLiteral("sha256"), m_sum},
                  {QStringLiteral("written"), m_written},
                  {QStringLiteral("failed"), m_failures},
                  {QStringLiteral("unwritten"), unwritten},
                  {QStringLiteral("numbers"), numbers},
                  {QStringLiteral("exit_code"), code},
                  {QStringLiteral("result"),
                   code == exitDone ? QStringLiteral("done") : QStringLiteral("failed")}});
    return code;
}

int runStation(const Request &request, Reporter &out)
{
    return runToTheEnd(std::make_unique<Station>(request, out));
}

} // namespace irlearn::cli
