#include "options.h"

#include <QCommandLineParser>
#include <QStringList>

namespace irlearn::devsim {

namespace {

std::optional<int> parseCount(const QString &text, int minimum)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < minimum)
        return std::nullopt;
    return value;
}

// "K" or "K:N" (second part optional when defaultSecond is given).
std::optional<QPair<int, int>> parsePair(const QString &text, std::optional<int> defaultSecond)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() > 2 || (parts.size() == 1 && !defaultSecond))
        return std::nullopt;
    const auto first = parseCount(parts.at(0), 0);
    const auto second = parts.size() == 2 ? parseCount(parts.at(1), 0) : defaultSecond;
    if (!first || !second)
        return std::nullopt;
    return qMakePair(*first, *second);
}

std::optional<QByteArray> parseReply(const QString &text)
{
    if (text == QLatin1String("none"))
        return QByteArray();
    return parseHexBytes(text);
}

} // namespace

std::optional<QByteArray> parseHexBytes(const QString &text)
{
    if (text.isEmpty() || text.size() % 2 != 0)
        return std::nullopt;
    for (const QChar c : text) {
        const char16_t u = c.toUpper().unicode();
        if (!((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F')))
            return std::nullopt;
    }
    return QByteArray::fromHex(text.toLatin1());
}

void declareOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Plays the infrared learning device on a pseudo-terminal, for tests and demonstrations."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("link"),
         QStringLiteral("Publish the terminal under this symbolic link "
                        "(default /tmp/irlearn-devsim/COM1)."),
         QStringLiteral("path")},
        {QStringLiteral("log"),
         QStringLiteral("Log frames, replies and events to this file (default standard error)."),
         QStringLiteral("path")},
        {QStringLiteral("dump"),
         QStringLiteral("Write the code table as a code file at start-up and after every stored "
                        "download record."),
         QStringLiteral("file")},
        {QStringLiteral("device"), QStringLiteral("Device number, four digits (default 0001)."),
         QStringLiteral("NNNN")},
        {QStringLiteral("echo"),
         QStringLiteral("Answer to learning mode on/off: normal, silent or wrong (F1/F3)."),
         QStringLiteral("mode")},
        {QStringLiteral("learn-reply"),
         QStringLiteral("Answer to a command in learning mode, hex or none (default 00)."),
         QStringLiteral("hex")},
        {QStringLiteral("frame-gap"),
         QStringLiteral("Milliseconds of line silence that end a received frame (default 20). "
                        "The learning answer's default delay scales with it."),
         QStringLiteral("ms")},
        {QStringLiteral("learn-delay"),
         QStringLiteral("Milliseconds before the learning answer (default 15 frame gaps: 300)."),
         QStringLiteral("ms")},
        {QStringLiteral("refuse-learn"),
         QStringLiteral("Answer 01 (not learnt) to the learning of command K (1 to 108; keys are 1 "
                        "to 10), its first N times (default every time); repeatable."),
         QStringLiteral("K[:N]")},
        {QStringLiteral("ignore-learn"),
         QStringLiteral("Leave the learning of command K unanswered, its first N times (default "
                        "every time); repeatable."),
         QStringLiteral("K[:N]")},
        {QStringLiteral("learn-delay-for"),
         QStringLiteral("Answer the learning of command K after MS milliseconds instead of "
                        "--learn-delay; repeatable."),
         QStringLiteral("K:MS")},
        {QStringLiteral("key-reply"),
         QStringLiteral("Answer to a command outside learning mode, hex or none (default 00)."),
         QStringLiteral("hex")},
        {QStringLiteral("reply-delay"),
         QStringLiteral("Delay every answer by this many milliseconds (default 0)."),
         QStringLiteral("ms")},
        {QStringLiteral("paced"),
         QStringLiteral("Send answers at the speed of a 9600-baud line instead of at once.")},
        {QStringLiteral("record-len"),
         QStringLiteral("Bytes per generated code-table record, 1 to 65536 (default 257). "
                        "Downloads still expect 257-byte records."),
         QStringLiteral("n")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the generated code table (default 1)."),
         QStringLiteral("n")},
        {QStringLiteral("table"),
         QStringLiteral("Load the code table from this code file (16 lines of hex) instead."),
         QStringLiteral("file")},
        {QStringLiteral("repeat-after-end"),
         QStringLiteral("Answer a next-record request after record 16 with record 1 again.")},
        {QStringLiteral("refuse-record"),
         QStringLiteral("Answer F5 to download record K (0-based) N times (default once); "
                        "repeatable."),
         QStringLiteral("K[:N]")},
        {QStringLiteral("restart-at"),
         QStringLiteral("Answer DD once to download record K (0-based), restarting at record 0."),
         QStringLiteral("K")},
        {QStringLiteral("short-record"),
         QStringLiteral("Send read record K (1-based) with only LEN bytes; repeatable."),
         QStringLiteral("K:LEN")},
        {QStringLiteral("stop-after"),
         QStringLiteral("Send no read record after record K (1-based; 0: none at all)."),
         QStringLiteral("K")},
        {QStringLiteral("garbage"),
         QStringLiteral("Answer every frame with 2 to 5 random bytes (from --seed) that are "
                        "neither an echo nor a record; nothing else happens.")},
        {QStringLiteral("flood"),
         QStringLiteral("From the first frame on, answer nothing but send bytes without end: at "
                        "line speed with --paced, else as fast as the line takes them.")},
        {QStringLiteral("refuse-all"), QStringLiteral("Answer F5 to every download record.")},
        {QStringLiteral("restart-all"), QStringLiteral("Answer DD to every download record.")},
        {QStringLiteral("vanish-after"),
         QStringLiteral("Close the terminal and exit (status 0), as an unplugged adapter: in a "
                        "download on receiving record K (0-based, neither stored nor answered), "
                        "in a read once record K+1 has been sent and taken."),
         QStringLiteral("K")},
        {QStringLiteral("wrong-record"),
         QStringLiteral("Store download record K (0-based) with one byte changed, answering 00 "
                        "as if it were intact."),
         QStringLiteral("K")},
        {QStringLiteral("pin-settings"),
         QStringLiteral("Do not run: write COMn=<link> into section Ports of this settings file "
                        "and exit (needs --as)."),
         QStringLiteral("file")},
        {QStringLiteral("as"), QStringLiteral("Port name to pin with --pin-settings (COMn)."),
         QStringLiteral("COMn")},
    });
}

std::optional<Options> readOptions(const QCommandLineParser &parser, QString *error)
{
    Options o;
    auto fail = [error](const QString &option, const QString &value) {
        *error = QStringLiteral("invalid value for --%1: %2").arg(option, value);
        return std::nullopt;
    };
    auto value = [&parser](const char *name) {
        return parser.value(QLatin1String(name));
    };
    auto isSet = [&parser](const char *name) {
        return parser.isSet(QLatin1String(name));
    };

    if (isSet("link"))
        o.linkPath = value("link");
    o.logPath = value("log");
    o.dumpPath = value("dump");
    o.tablePath = value("table");
    o.pinSettingsPath = value("pin-settings");
    o.pinAs = value("as");
    o.paced = isSet("paced");
    o.repeatAfterEnd = isSet("repeat-after-end");
    o.garbage = isSet("garbage");
    o.flood = isSet("flood");
    o.refuseAll = isSet("refuse-all");
    o.restartAll = isSet("restart-all");

    if (isSet("device")) {
        const auto number = parseHexBytes(value("device"));
        if (!number || number->size() != 2)
            return fail(QStringLiteral("device"), value("device"));
        o.deviceNumber = *number;
    }
    if (isSet("echo")) {
        const QString mode = value("echo");
        if (mode == QLatin1String("normal"))
            o.echo = EchoMode::Normal;
        else if (mode == QLatin1String("silent"))
            o.echo = EchoMode::Silent;
        else if (mode == QLatin1String("wrong"))
            o.echo = EchoMode::Wrong;
        else
            return fail(QStringLiteral("echo"), mode);
    }
    // An empty reply read from "none" means: stay silent.
    for (auto [name, target] :
         {std::pair{"learn-reply", &o.learnReply}, std::pair{"key-reply", &o.keyReply}}) {
        if (!isSet(name))
            continue;
        const auto reply = parseReply(value(name));
        if (!reply)
            return fail(QLatin1String(name), value(name));
        *target = reply->isEmpty() ? std::nullopt : reply;
    }
    for (auto [name, target, minimum] :
         {std::tuple{"frame-gap", &o.frameGapMs, 1}, std::tuple{"learn-delay", &o.learnDelayMs, 0},
          std::tuple{"reply-delay", &o.replyDelayMs, 0}, std::tuple{"record-len", &o.recordLen, 1},
          std::tuple{"restart-at", &o.restartAt, 0}, std::tuple{"stop-after", &o.stopAfter, 0},
          std::tuple{"vanish-after", &o.vanishAfter, 0},
          std::tuple{"wrong-record", &o.wrongRecord, 0}}) {
        if (!isSet(name))
            continue;
        const auto n = parseCount(value(name), minimum);
        if (!n)
            return fail(QLatin1String(name), value(name));
        *target = *n;
    }
    if (isSet("seed")) {
        bool ok = false;
        o.seed = value("seed").toUInt(&ok, 10);
        if (!ok)
            return fail(QStringLiteral("seed"), value("seed"));
    }
    for (const QString &text : parser.values(QStringLiteral("refuse-record"))) {
        const auto pair = parsePair(text, 1);
        if (!pair || pair->first > 15)
            return fail(QStringLiteral("refuse-record"), text);
        o.refuseRecord[pair->first] += pair->second;
    }
    for (auto [name, target, every] : {std::tuple{"refuse-learn", &o.refuseLearn, true},
                                       std::tuple{"ignore-learn", &o.ignoreLearn, true},
                                       std::tuple{"learn-delay-for", &o.learnDelayFor, false}}) {
        for (const QString &text : parser.values(QLatin1String(name))) {
            const auto pair = parsePair(text, every ? std::optional<int>(-1) : std::nullopt);
            if (!pair || pair->first < 1 || pair->first > 108 ||
                (text.contains(QLatin1Char(':')) && every && pair->second < 1))
                return fail(QLatin1String(name), text);
            (*target)[pair->first] = pair->second;
        }
    }
    for (const QString &text : parser.values(QStringLiteral("short-record"))) {
        const auto pair = parsePair(text, std::nullopt);
        if (!pair || pair->first < 1 || pair->first > 16)
            return fail(QStringLiteral("short-record"), text);
        o.shortRecord[pair->first] = pair->second;
    }
    if (!isSet("learn-delay"))
        o.learnDelayMs = 15 * o.frameGapMs;
    if (o.frameGapMs > 10000)
        return fail(QStringLiteral("frame-gap"), value("frame-gap"));
    if (o.recordLen > 65536)
        return fail(QStringLiteral("record-len"), value("record-len"));
    if (o.restartAt > 15)
        return fail(QStringLiteral("restart-at"), value("restart-at"));
    if (o.vanishAfter > 15)
        return fail(QStringLiteral("vanish-after"), value("vanish-after"));
    if (o.wrongRecord > 15)
        return fail(QStringLiteral("wrong-record"), value("wrong-record"));
    if (o.refuseAll && o.restartAll) {
        *error = QStringLiteral("--refuse-all and --restart-all exclude each other");
        return std::nullopt;
    }
    if (!o.pinSettingsPath.isEmpty() && o.pinAs.isEmpty()) {
        *error = QStringLiteral("--pin-settings needs --as COMn");
        return std::nullopt;
    }
    return o;
}

} // namespace irlearn::devsim
