// irlearn-cli: the learning device from a shell or a script, on the same core as the window.
//
// main() reads the command line (CommandLine), then hands the request to the runner its command's
// row names: the offline commands (ports, diff, info; label and library in labelcommands), a device
// command on one port (a PortJob driving one DeviceEngine), or a clone or an identify (CloneRun,
// IdentifyRun: a PortJob per port in one event loop).
// Reporter is the only one that writes: results to standard output (--json: the one JSON result
// only), people's lines and live progress to standard error.
#include "commandline.h"
#include "reporter.h"

#include "base/nativepath.h"
#include "base/regularfile.h"
#include "base/sessionlog.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <algorithm>

using namespace irlearn;
using namespace irlearn::cli;

namespace {

// The arguments as the system gave them. A Unix file name need not be UTF-8: each argument keeps
// every byte (see nativepath.h), so that the file named is the file opened. Windows hands Qt its
// arguments as UTF-16 already.
QStringList commandArguments(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << nameFromBytes(QByteArray(argv[i]));
    return arguments;
#else
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    return QCoreApplication::arguments().mid(1);
#endif
}

// Only a file name may hold bytes that are not UTF-8: a device number, a label or a port in
// another encoding would be stored or sent as some other text, so it is refused.
QString undecodable(const QStringList &arguments, const Request &r)
{
    const QStringList files = {r.file, r.secondFile, r.log, r.logFile, r.settingsPath};
    for (const QString &argument : arguments) {
        if (!hasRawBytes(argument))
            continue;
        const bool isFile = std::any_of(files.begin(), files.end(), [&](const QString &file) {
            return !file.isEmpty() &&
                   (argument == file || argument.endsWith(QLatin1Char('=') + file));
        });
        if (!isFile)
            return QStringLiteral("参数不是 UTF-8 编码：%1").arg(displayName(argument));
    }
    return QString();
}

// --settings names the file the port names come from: one that is not there, or not a regular
// file, would silently send the frames to another port.
QString settingsProblem(const QString &path)
{
    if (path.isEmpty())
        return QString();
    const PathKind kind = pathKind(path);
    if (kind == PathKind::Regular)
        return QString();
    return QStringLiteral("设置文件不能用：%1\n%2")
        .arg(displayName(path),
             kind == PathKind::Missing ? QStringLiteral("文件不存在") : pathKindReason(kind));
}

int usageError(const QStringList &arguments, const QString &why)
{
    Reporter out(arguments.contains(QStringLiteral("--json")));
    out.say(why);
    out.result({{QStringLiteral("command"), arguments.value(0)},
                {QStringLiteral("exit_code"), exitUsage},
                {QStringLiteral("result"), QStringLiteral("usage")},
                {QStringLiteral("message"), why}});
    return exitUsage;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The same name as the window: an installed program shares its settings file.
    QCoreApplication::setApplicationName(QStringLiteral("irlearn"));
    QCoreApplication::setApplicationVersion(QStringLiteral(IRLEARN_VERSION));

    const QStringList arguments = commandArguments(argc, argv);
    const Parsed parsed = parseCommandLine(arguments);
    if (parsed.status == Parsed::Help) {
        Reporter out(false);
        out.print(parsed.text);
        return out.outputFailed() ? exitUsage : exitDone;
    }
    if (parsed.status == Parsed::Error)
        return usageError(arguments, parsed.text);

    const Request &request = parsed.request;
    if (const QString why = undecodable(arguments, request); !why.isEmpty())
        return usageError(arguments, why);
    if (const QString why = settingsProblem(request.settingsPath); !why.isEmpty())
        return usageError(arguments, why);
    Reporter out(request.json);
    if (request.logFrames) {
        // Frame lines into a terminal or another device would be read as anything but a log.
        if (const PathKind kind = pathKind(request.logFile);
            !request.logFile.isEmpty() && kind != PathKind::Regular && kind != PathKind::Missing)
            return usageError(arguments,
                              QStringLiteral("日志文件不能用：%1\n%2")
                                  .arg(displayName(request.logFile), pathKindReason(kind)));
        auto log = request.logFile.isEmpty()
                       ? std::make_unique<SessionLog>()
                       : std::make_unique<SessionLog>(request.logFile, SessionLog::Target::File);
        // A log that cannot be written is found before anything is sent.
        if (!log->append(QStringLiteral("irlearn-cli ") + arguments.join(QLatin1Char(' '))))
            return usageError(arguments, log->problem());
        out.setFrameLog(std::move(log));
    }
    const int code = request.run(request, out);
    // A result that did not reach its reader is no success.
    if (out.outputFailed()) {
        out.say(QStringLiteral("结果无法写到标准输出。"));
        return code == exitDone ? exitUsage : code;
    }
    return code;
}
