// The learning wizard's own cost per key: on a scripted line whose device answers every frame at
// once, the time from one key's learning frame to the next one's is all the program's. The same
// ten learnings chained directly on the engine give the engine's share; the rest is the wizard's
// (the pass, its dialog and the coverage map). Target: at most 50 ms a key beyond the device's
// answer. Run by hand: QT_QPA_PLATFORM=offscreen build/bench/bench_wizard
#include "support/fakelink.h"

#include "engine/deviceengine.h"
#include "learningwizard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include <algorithm>

using namespace irlearn;

namespace {

constexpr int passes = 20;

// A device that echoes learning mode and learns every key at once; the time of every frame.
struct TimedLine
{
    FakeLink *link = new FakeLink;
    QElapsedTimer clock;
    QList<QPair<QString, double>> frames;

    TimedLine()
    {
        clock.start();
        link->responder = [this](const QString &frame) {
            frames << qMakePair(frame.right(2), double(clock.nsecsElapsed()) / 1e6);
            const QString code = frame.right(2);
            return code == QLatin1String("F0") || code == QLatin1String("F2")
                       ? QByteArray::fromHex(code.toLatin1())
                       : QByteArray(1, '\0');
        };
    }
    // Milliseconds from each key's learning frame to the next key's.
    QList<double> gaps() const
    {
        QList<double> out;
        for (int i = 1; i < frames.size(); ++i) {
            const bool keys = frames.at(i - 1).first.startsWith(QLatin1Char('4')) &&
                              frames.at(i).first.startsWith(QLatin1Char('4'));
            if (keys)
                out << frames.at(i).second - frames.at(i - 1).second;
        }
        return out;
    }
};

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(v.size() / 2);
}

} // namespace

class BenchWizard : public QObject
{
    Q_OBJECT

private slots:
    void overheadPerKey()
    {
        QList<double> wizard;
        QList<double> engineOnly;
        for (int pass = 0; pass < passes; ++pass) {
            {
                TimedLine line;
                DeviceEngine engine(line.link, Timings{});
                openAndWait(engine, QStringLiteral("fake"));
                QObject::connect(&engine, &DeviceEngine::message, &engine,
                                 [&engine] { engine.messageClosed(); });
                auto *dialog = new LearningWizard(engine, [] {
                    TeachPlan target;
                    target.device = QStringLiteral("0001");
                    return target;
                });
                dialog->show();
                QVERIFY(QTest::qWaitForWindowExposed(dialog));
                QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("wizardStart")),
                                  Qt::LeftButton);
                auto *send = dialog->findChild<QPushButton *>(QStringLiteral("wizardSend"));
                QVERIFY(QTest::qWaitFor([send] { return send->isVisible(); }, 10000));
                QCOMPARE(line.gaps().size(), 9);
                wizard << line.gaps();
                delete dialog;
            }
            {
                TimedLine line;
                DeviceEngine engine(line.link, Timings{});
                openAndWait(engine, QStringLiteral("fake"));
                QObject::connect(&engine, &DeviceEngine::message, &engine,
                                 [&engine] { engine.messageClosed(); });
                int next = 0;
                QObject::connect(&engine, &DeviceEngine::finished, &engine,
                                 [&](const OperationResult &) {
                                     if (next < 10)
                                         engine.learnKey(QStringLiteral("0001"), next++);
                                 });
                engine.switchLearningMode(QStringLiteral("0001"), true);
                QVERIFY(QTest::qWaitFor([&] { return next == 10 && !engine.isBusy(); }, 10000));
                QCOMPARE(line.gaps().size(), 9);
                engineOnly << line.gaps();
            }
        }
        const double total = median(wizard);
        const double own = total - median(engineOnly);
        qInfo("key to key beyond the device's answer: median %.3f ms, worst %.3f ms "
              "(engine alone: median %.3f ms)",
              total, *std::max_element(wizard.begin(), wizard.end()), median(engineOnly));
        qInfo("the wizard's own overhead per key: %.3f ms (target <= 50 ms)", own);
        QVERIFY(total <= 50);
    }
};

QTEST_MAIN(BenchWizard)
#include "bench_wizard.moc"
