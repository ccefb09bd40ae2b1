#pragma once

#include "engine/operation.h"

#include <optional>

namespace irlearn {

// Reading the device's code table: the opening (select frame, pause, "40", pause, "50"), then one
// record per request, each next request a pacing interval after the previous record arrived.
// After the sixteenth record one more request goes out, as the device expects; a long answer to
// it repeats the completion. The table is handed over as that request goes out, and from then on
// another operation may take over (unless an answer to it is already coming in). A record is
// exactly 257 bytes: an answer of any other length, or none, stops the read and says which record
// and how long it was.
//
// With an expected table the read verifies instead: it compares what it read with it.
class TableRead : public Operation
{
    Q_OBJECT

public:
    TableRead(Context context, QString device, std::optional<CodeTable> expected = std::nullopt,
              OperationKind kind = OperationKind::ReadTable, QObject *parent = nullptr);

    void start() override;
    void replied(const QString &tag, const QString &reply, bool late) override;
    void timedOut(const QString &tag, int received) override;
    void strayBytes(int bytes) override;
    void portLost() override;
    bool interrupt() override;

private:
    enum class Step { Opening, Record, Pacing, Trailing };

    void requestRecord(const QString &frame);
    void paced();
    // Fails the read when bytes followed the record just taken.
    bool recordWentOn();
    void complete();
    void fail(Outcome outcome, const QString &detail);
    void end();

    QString m_device;
    std::optional<CodeTable> m_expected;
    Step m_step = Step::Opening;
    int m_record = 0; // records stored so far
    int m_extra = 0;  // bytes that followed the last record
    CodeTable m_table;
    QTimer m_timer;
};

} // namespace irlearn
