#pragma once

#include "engine/operation.h"

namespace irlearn {

class TableRead;

// Downloading a code table into the device: the opening (select frame, pause, "40", pause, "50"),
// which the device answers with DD; then records 0 to 15, each a pacing interval after the
// device's answer to the previous step: 00 stores it and goes on, F5 refuses it (the same record
// goes again), DD starts again at record 0. A record refused ten times in a row, a third restart,
// any other answer or none end the download and say at which record.
//
// Verified, the download then reads the table back and compares it record by record.
class TableDownload : public Operation
{
    Q_OBJECT

public:
    static constexpr int maxRefusals = 10;
    static constexpr int maxRestarts = 3;

    TableDownload(Context context, QString device, CodeTable table, bool verify,
                  QObject *parent = nullptr);

    void start() override;
    void replied(const QString &tag, const QString &reply, bool late) override;
    void timedOut(const QString &tag, int received) override;
    void strayBytes(int bytes) override;
    void messagesClosed() override;
    void portLost() override;
    void cancel() override;

private:
    enum class Step { Opening, Starting, Storing, Verifying };

    void sendRecord();
    void next();
    void fail(Outcome outcome, const QString &detail, const QString &reply = {});

    QString m_device;
    CodeTable m_table;
    bool m_verify = false;
    Step m_step = Step::Opening;
    int m_index = 0; // the record being sent, 0 to 15
    int m_refusals = 0;
    int m_restarts = 0;
    QTimer m_timer;
    TableRead *m_readBack = nullptr;
    bool m_cancelled = false; // stop once the record on the wire is answered
};

} // namespace irlearn
