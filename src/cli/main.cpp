// irlearn-cli: the learning device from a shell or a script, on the same core as the window.
//
// main() reads the command line (CommandLine), then hands the request to one of three runners:
// the offline commands (ports, diff, info), a device command on one port (a PortJob driving one
// DeviceEngine), or a clone (CloneRun: a PortJob per port in one event loop). Reporter is the
// only one that writes: people's lines and live progress to standard error, --json's result to
// standard output.
#include "clonerun.h"
#include "commandline.h"
#include "devicecommand.h"
#include "offline.h"
#include "reporter.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <cstdio>
#include <memory>

using namespace irlearn::cli;

namespace {

// Starts a run on the device(s); a run refused before anything is sent ends at once, any other
// in the program's event loop, with the exit code its finished() tells.
template <typename Run> int runToTheEnd(QCoreApplication &app, std::unique_ptr<Run> run)
{
    QObject::connect(run.get(), &Run::finished, &app, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    const int refused = run->start();
    if (refused != Run::started)
        return refused;
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The same name as the window: an installed program shares its settings file.
    QCoreApplication::setApplicationName(QStringLiteral("irlearn"));

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const Parsed parsed = parseCommandLine(arguments);
    if (parsed.status == Parsed::Help) {
        const QByteArray text = parsed.text.toUtf8();
        std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
        return exitDone;
    }
    if (parsed.status == Parsed::Error) {
        Reporter out(arguments.contains(QStringLiteral("--json")));
        out.say(parsed.text);
        out.result({{QStringLiteral("command"), arguments.value(0)},
                    {QStringLiteral("exit_code"), exitUsage},
                    {QStringLiteral("result"), QStringLiteral("usage")},
                    {QStringLiteral("message"), parsed.text}});
        return exitUsage;
    }

    const Request &request = parsed.request;
    Reporter out(request.json);
    switch (request.command) {
    case Command::Ports:
        return listPorts(request, out);
    case Command::Diff:
        return diffFiles(request, out);
    case Command::Info:
        return describeFile(request, out);
    case Command::Clone:
        return runToTheEnd(app, std::make_unique<CloneRun>(request, out));
    default:
        return runToTheEnd(app, std::make_unique<DeviceCommand>(request, out));
    }
}
