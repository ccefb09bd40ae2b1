// irlearn-devsim: plays the infrared learning device on a pseudo-terminal so that the tool, its
// tests and demonstrations have a device to talk to. See --help for the options; the frame log
// ("<ms> RX|TX|EV|BAD <text>") is what the tests read to see what the tool sent.

#include "device.h"
#include "framelog.h"
#include "options.h"
#include "ptyline.h"
#include "table.h"

#include "base/inifile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

using namespace irlearn::devsim;

namespace {

// Filled before the handlers are installed; the handler may only use async-signal-safe calls.
char g_linkPath[4096];
char g_slavePath[4096];

// Async-signal-safe, as the stop handler uses it.
void removeOwnLink()
{
    // Only our own link: another simulator may have taken the name over meanwhile.
    char target[sizeof g_slavePath];
    const ssize_t n = ::readlink(g_linkPath, target, sizeof target - 1);
    if (n > 0) {
        target[n] = '\0';
        if (std::strcmp(target, g_slavePath) == 0)
            ::unlink(g_linkPath);
    }
}

void removeLinkAndExit(int)
{
    removeOwnLink();
    ::_exit(0);
}

bool publishLink(const QString &linkPath, const QString &target, QString *error)
{
    const QFileInfo link(linkPath);
    if (!QDir().mkpath(link.absolutePath())) {
        *error = QStringLiteral("cannot create %1").arg(link.absolutePath());
        return false;
    }
    if (link.exists() && !link.isSymLink()) {
        *error = QStringLiteral("%1 exists and is not a symbolic link").arg(linkPath);
        return false;
    }
    // Made aside and renamed over the old one, so the name never points nowhere.
    const QByteArray finalName = QFile::encodeName(link.absoluteFilePath());
    const QByteArray tempName = finalName + ".new" + QByteArray::number(::getpid());
    if (size_t(finalName.size()) >= sizeof g_linkPath ||
        size_t(target.toLocal8Bit().size()) >= sizeof g_slavePath) {
        *error = QStringLiteral("path too long: %1").arg(linkPath);
        return false;
    }
    // Armed before the link exists, so that no moment is left in which a stop would strand it.
    std::strcpy(g_linkPath, finalName.constData());
    std::strcpy(g_slavePath, QFile::encodeName(target).constData());
    struct sigaction action = {};
    action.sa_handler = removeLinkAndExit;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    ::unlink(tempName.constData());
    if (::symlink(QFile::encodeName(target).constData(), tempName.constData()) != 0 ||
        ::rename(tempName.constData(), finalName.constData()) != 0) {
        *error = QStringLiteral("cannot publish %1: %2")
                     .arg(linkPath, QString::fromLocal8Bit(std::strerror(errno)));
        ::unlink(tempName.constData());
        return false;
    }
    return true;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "irlearn-devsim: %s\n", qUtf8Printable(message));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("irlearn-devsim"));

    QCommandLineParser parser;
    declareOptions(parser);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return fail(
            QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().at(0)));
    QString error;
    const auto options = readOptions(parser, &error);
    if (!options)
        return fail(error);

    if (!options->pinSettingsPath.isEmpty()) {
        irlearn::IniFile settings(options->pinSettingsPath);
        if (!settings.write(QStringLiteral("Ports"), options->pinAs, options->linkPath))
            return fail(QStringLiteral("cannot write %1").arg(options->pinSettingsPath));
        return 0;
    }

    Table table = generateTable(options->seed, options->recordLen);
    if (!options->tablePath.isEmpty() && !loadTable(options->tablePath, &table, &error))
        return fail(error);

    FrameLog log;
    if (!log.open(options->logPath, &error))
        return fail(error);

    PtyLine line(options->frameGapMs, options->paced);
    if (!line.open(&error))
        return fail(error);
    Device device(*options, table, &line, &log);
    QObject::connect(&line, &PtyLine::frameReceived, &device, &Device::handleFrame);
    // An unplugged adapter takes its device node with it.
    QObject::connect(&device, &Device::unplugged, &app, [] {
        removeOwnLink();
        QCoreApplication::exit(0);
    });
    QObject::connect(&line, &PtyLine::problem, &line,
                     [&log](const QString &text) { log.event(text); });

    if (!publishLink(options->linkPath, line.slavePath(), &error))
        return fail(error);
    log.event(QStringLiteral("ready on %1 as %2, device %3")
                  .arg(options->linkPath, line.slavePath(),
                       QString::fromLatin1(options->deviceNumber.toHex().toUpper())));

    std::fprintf(stdout, "%s\n", qUtf8Printable(options->linkPath));
    std::fflush(stdout);
    return app.exec();
}
