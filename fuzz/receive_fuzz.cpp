// The receive path on arbitrary replies: whatever the device sends, in whatever pieces, an
// operation ends exactly once, puts nothing on the line but the frames it is made of and nothing
// at all after its end, and a read that says it is complete holds sixteen whole records.
//
// Input: byte 0 picks the operation (modulo 4: a read, a download, a verified download, a
// numbered learning, whose number comes from the rest of the byte). Then pieces of the reply
// stream, each a control byte and what it announces:
//   0xFF  the adapter is pulled out, right after the piece before;
//   0xFE  the next record of the table downloaded (a whole, good record), as a new reply;
//   else  (c & 0x7F) + 1 bytes that follow. With bit 7 set they are held back until the engine
//         has written its next frame; without it they come right after the piece before (the
//         next turn of the event loop), so one reply can be cut anywhere.
#include "engine/deviceengine.h"
#include "fuzzcheck.h"
#include "protocol/frames.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>

using namespace irlearn;

namespace {

const QString device = QStringLiteral("0001");

// Tiny but ordered: the opening pause and pacing stay shorter than the reply window.
const Timings tiny{4, 6, 1, 1, 6, 10};

struct Piece
{
    QByteArray bytes;
    bool newReply = false;
    bool unplug = false;
};

CodeTable knownTable()
{
    CodeTable table;
    for (int r = 0; r < tableRecords; ++r) {
        QByteArray bytes(recordBytes, '\0');
        for (int i = 0; i < recordBytes; ++i)
            bytes[i] = char((i * 7 + r * 29 + 3) & 0xFF);
        table[std::size_t(r)] = frames::toText(bytes);
    }
    return table;
}

QList<Piece> pieces(const uint8_t *data, size_t size, const CodeTable &table)
{
    QList<Piece> result;
    int records = 0;
    for (size_t i = 0; i < size;) {
        const uint8_t c = data[i++];
        if (c == 0xFF) {
            result.append({{}, false, true});
        } else if (c == 0xFE) {
            result.append({frames::toBytes(table[std::size_t(records++ % tableRecords)]), true});
        } else {
            const size_t n = qMin<size_t>((c & 0x7F) + 1, size - i);
            result.append({QByteArray(reinterpret_cast<const char *>(data + i), qsizetype(n)),
                           (c & 0x80) != 0});
            i += n;
        }
    }
    return result;
}

// Plays the pieces back as the device's side of the line. A piece that starts a reply waits
// until a frame was written since the last one did; bytes never arrive before the first frame.
class ScriptedLink : public DeviceLink
{
public:
    ScriptedLink(QList<Piece> script, const bool &ended)
        : m_script(std::move(script)), m_ended(ended)
    {
    }

    QStringList written;

    void open(const QString &) override
    {
        QTimer::singleShot(0, this, [this] {
            m_open = true;
            emit opened();
        });
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool discardPending() override { return m_open; }
    bool write(const QByteArray &bytes) override
    {
        FUZZ_CHECK(!m_ended);
        if (!m_open)
            return false;
        written << frames::toText(bytes);
        schedule();
        return true;
    }
    bool drained() const { return m_next >= m_script.size(); }

private:
    void schedule()
    {
        if (m_scheduled)
            return;
        m_scheduled = true;
        QTimer::singleShot(0, this, [this] { play(); });
    }
    void play()
    {
        m_scheduled = false;
        if (!m_open || drained())
            return;
        const Piece &piece = m_script.at(m_next);
        if (piece.newReply) {
            if (m_answered >= written.size())
                return;
            m_answered = int(written.size());
        }
        ++m_next;
        if (piece.unplug) {
            m_open = false;
            emit lost();
            return;
        }
        emit received(piece.bytes);
        schedule();
    }

    QList<Piece> m_script;
    const bool &m_ended;
    qsizetype m_next = 0;
    int m_answered = 0;
    bool m_open = false;
    bool m_scheduled = false;
};

bool isRecord(const QString &text)
{
    if (text.size() != recordDigits)
        return false;
    for (QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "receive_fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    ensureApplication();
    const int choice = data[0] % 4;
    const int command = 1 + (data[0] / 4) % frames::maxCommand;
    const CodeTable table = knownTable();

    bool ended = false;
    auto *link = new ScriptedLink(pieces(data + 1, size - 1, table), ended);
    DeviceEngine engine(link, tiny);
    {
        QEventLoop opening;
        QObject::connect(&engine, &DeviceEngine::opened, &opening, &QEventLoop::quit);
        engine.open(QStringLiteral("scripted"));
        opening.exec();
        FUZZ_CHECK(engine.isOpen());
    }

    int results = 0;
    int tablesRead = 0;
    bool frameLoggedAfterEnd = false;
    OperationResult result;
    QEventLoop loop;
    QObject::connect(&engine, &DeviceEngine::finished, [&](const OperationResult &r) {
        ++results;
        result = r;
        ended = true;
        loop.quit();
    });
    QObject::connect(&engine, &DeviceEngine::tableRead, [&](const CodeTable &t) {
        ++tablesRead;
        for (int r = 0; r < tableRecords; ++r)
            FUZZ_CHECK(isRecord(t[std::size_t(r)]));
    });
    QObject::connect(&engine, &DeviceEngine::progress, [](int done, int total) {
        FUZZ_CHECK(total == tableRecords && done >= 0 && done <= total);
    });
    QObject::connect(&engine, &DeviceEngine::logLine, [&](const QString &line) {
        if (ended && line.startsWith(QLatin1String("--== ")))
            frameLoggedAfterEnd = true;
    });
    // A front end that shows each message in passing.
    QObject::connect(&engine, &DeviceEngine::message, &engine, [&engine] {
        QMetaObject::invokeMethod(&engine, &DeviceEngine::messageClosed, Qt::QueuedConnection);
    });

    QSet<QString> known;
    bool started = false;
    switch (choice) {
    case 0:
        known = {frames::readSelect(device), frames::openSelect, frames::openStart,
                 frames::nextRecord};
        started = engine.readTable(device);
        break;
    case 1:
    case 2:
        known = {frames::downloadSelect(device), frames::openSelect, frames::openStart};
        for (int r = 0; r < tableRecords; ++r)
            known.insert(table[std::size_t(r)]);
        if (choice == 2)
            known += {frames::readSelect(device), frames::nextRecord};
        started = engine.downloadTable(device, table, choice == 2);
        break;
    default:
        known = {frames::learningModeOn(device), frames::commandFrame(device, command),
                 frames::learningModeOff(device)};
        started = engine.learnCommand(device, command);
        break;
    }
    FUZZ_CHECK(started);

    // Far beyond any run of the tiny timings: an operation still going by then never ends.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(10000);
    if (!ended)
        loop.exec();
    FUZZ_CHECK(ended);
    // Long enough for any timer of the operation to fire, had it been left running, and for the
    // rest of the script to arrive.
    QTimer::singleShot(2 * tiny.recordTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec();

    FUZZ_CHECK(results == 1);
    FUZZ_CHECK(!engine.isRunning());
    FUZZ_CHECK(!frameLoggedAfterEnd);
    for (const QString &frame : std::as_const(link->written))
        FUZZ_CHECK(known.contains(frame));

    const bool transfer = choice != 3;
    if (transfer && !result.ok() && result.outcome != Outcome::Mismatch)
        FUZZ_CHECK(result.record >= 1 && result.record <= tableRecords);
    // The record the operator is told about is the one the result names, and one the table has.
    static const QRegularExpression named(QStringLiteral("第(\\d+)条"));
    const QRegularExpressionMatch match = named.match(result.detail);
    if (match.hasMatch() && result.outcome != Outcome::Mismatch)
        FUZZ_CHECK(match.captured(1).toInt() == result.record);
    if (choice == 0) {
        // A table handed over for saving was read whole: the read cannot fail after that.
        FUZZ_CHECK(tablesRead <= 2);
        FUZZ_CHECK((tablesRead > 0) == result.ok());
        if (result.ok()) {
            for (int r = 0; r < tableRecords; ++r)
                FUZZ_CHECK(isRecord(result.table[std::size_t(r)]));
        }
    } else {
        FUZZ_CHECK(tablesRead == 0);
    }
    if ((choice == 1 || choice == 2) && result.ok()) {
        // Every record went out, the last one last.
        for (int r = 0; r < tableRecords; ++r)
            FUZZ_CHECK(link->written.contains(table[std::size_t(r)]));
        if (choice == 1)
            FUZZ_CHECK(link->written.constLast() == table[tableRecords - 1]);
        if (choice == 2)
            FUZZ_CHECK(result.differing.isEmpty() && result.table == table);
    }
    if (result.outcome == Outcome::Mismatch) {
        FUZZ_CHECK(choice == 2 && !result.differing.isEmpty());
        for (int n : std::as_const(result.differing))
            FUZZ_CHECK(n >= 1 && n <= tableRecords);
    }
    return 0;
}
