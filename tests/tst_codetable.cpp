// Reading the device's code table, saving it as a code file with its labels (and into the library)
// and downloading a code file (verified or not, refused when it is no whole table, asked about when
// changed since it was labelled, chosen from the library), with the wait notice's count, through
// the real window on the simulated device; the save panel after an unplug.
#include "support/filesizelimit.h"
#include "support/windowharness.h"

#include "codefile/codefile.h"
#include "codefile/tablelibrary.h"
#include "engine/deviceengine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

namespace {

const QString fixture = QStringLiteral(IRLEARN_TEST_DATA "/table16.bin");
const QStringList opening = {QStringLiteral("0001DD"), QStringLiteral("40"), QStringLiteral("50")};

QByteArray codeFileBytes(const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toLatin1() + "\r\n";
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList records(const irlearn::CodeTable &table)
{
    return QStringList(table.begin(), table.begin() + 16);
}

// Enters a path into the save box and clicks save; the text of the one box that follows.
QString saveTo(WindowHarness &h, const QString &path)
{
    const auto before = h.messages().size();
    h.child<QLineEdit>("saveFileEdit")->setText(path);
    h.click("saveTableButton");
    if (h.messages().size() != before + 1)
        return QStringLiteral("<%1 boxes shown>").arg(h.messages().size() - before);
    return h.messages().constLast();
}

// The wait notice's text each time the engine reports progress, read after the window's own
// handler (connected first) has written it.
struct NoticeLog
{
    explicit NoticeLog(WindowHarness &h)
    {
        auto *label = h.child<QLabel>("waitNoticeLabel");
        auto *notice = h.child<QWidget>("waitNotice");
        irlearn::DeviceEngine &engine = h.window().engine();
        QObject::connect(&engine, &irlearn::DeviceEngine::noticeShown, &guard,
                         [this] { sinceShown.start(); });
        QObject::connect(&engine, &irlearn::DeviceEngine::progress, &guard,
                         [this, label, notice, limit = engine.timings().noticeMs] {
                             captions << label->text();
                             shown << (notice->isVisible() || sinceShown.elapsed() >= limit - 20);
                         });
    }
    // At each count: whether the notice was up, or its own time was over (on a loaded machine
    // a transfer may outlast it).
    QStringList captions;
    QList<bool> shown;
    QElapsedTimer sinceShown;
    QObject guard;
};

} // namespace

class CodeTableTest : public QObject
{
    Q_OBJECT

private slots:
    void readAndSave()
    {
        QuickSim source;
        QVERIFY(source.start());
        const QStringList table = source.storedTable();
        QCOMPARE(table.size(), 16);
        QTemporaryDir dir;
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path()));
        const QString target = dir.filePath(QStringLiteral("aircon.bin"));
        const QByteArray old = QByteArrayLiteral("an earlier table\r\n");
        QVERIFY(writeFile(target, old));
        WindowHarness h(source.linkPath(), QStringLiteral("0001"), QStringLiteral("COM1"),
                        WindowHarness::quickTimings());
        QVERIFY(h.connectPort());
        auto *panel = h.child<QWidget>("savePanel");
        auto *edit = h.child<QLineEdit>("saveFileEdit");
        auto *save = h.button("saveTableButton");
        // Left over from an earlier visit: opening the panel must reset both.
        edit->setText(QStringLiteral("/tmp/stale.bin"));
        save->setEnabled(true);

        bool locked = true;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (h.window().engine().isBusy())
                locked &= h.controlsEnabled(false);
        });
        probe.start(5);
        h.click("readTableButton");
        QVERIFY(h.child<QLabel>("waitNoticeLabel")
                    ->text()
                    .startsWith(QStringLiteral("正在读取数据，请稍等...")));
        QVERIFY(h.child<QWidget>("waitNotice")->isVisible());
        QTRY_VERIFY(panel->isVisible());
        QVERIFY(!h.child<QWidget>("waitNotice")->isVisible());
        QCOMPARE(panel->parentWidget()->objectName(), QStringLiteral("devicePanel"));
        QVERIFY(edit->text().isEmpty());
        QVERIFY(!save->isEnabled());
        QCOMPARE(records(h.window().table()), table);
        QVERIFY(h.idle());
        probe.stop();
        QVERIFY(locked);
        QVERIFY(h.logLines().contains(QStringLiteral("获取第16条记录。")));
        QVERIFY(h.messages().isEmpty());
        // Fifteen "00" requests for records 2 to 16, one more after the table is complete.
        QTRY_COMPARE(source.received(), (QStringList{QStringLiteral("0001ED"), QStringLiteral("40"),
                                                     QStringLiteral("50")} +
                                         QStringList(16, QStringLiteral("00"))));

        // Unplugged while the command table is in front: the device panel comes back with the save
        // panel, and the table can still be saved. (A disconnect takes the same path.)
        h.click("panelSwitchButton");
        QVERIFY(!h.deviceInFront());
        source.kill();
        QTRY_VERIFY(!h.connected());
        QVERIFY(h.logLines().contains(QStringLiteral("端口连接失败！")));
        QVERIFY(h.child<QComboBox>("portSelector")->isEnabled());
        QVERIFY(h.controlsEnabled(false));
        h.click("panelSwitchButton");
        QVERIFY(h.deviceInFront());
        QVERIFY(panel->isVisible());

        h.answerNextFileDialog(target);
        h.click("browseSaveFileButton");
        QCOMPARE(h.fileDialogTitles(), QStringList{QStringLiteral("生成红外指令文件")});
        QCOMPARE(edit->text(), QDir::toNativeSeparators(target));
        QVERIFY(save->isEnabled());

        // Too little room for the new table, as on a filling disk, whoever runs the test (root is
        // not stopped by a read-only folder): the old file must survive whole.
        QString failure;
        {
            const FileSizeLimit limit(4096);
            QVERIFY(limit.active());
            failure = saveTo(h, target);
        }
        QCOMPARE(failure.section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("红外指令文件未保存：") + QDir::toNativeSeparators(target));
        QVERIFY(panel->isVisible());
        QCOMPARE(WindowHarness::readFile(target), old);
        QVERIFY(!QFile::exists(target + QStringLiteral(".json")));

        // Typed with spaces around it; the existing file is replaced without a question. The
        // labels and the key statuses go beside it, and a copy into the library.
        const QStringList fields = {
            QStringLiteral("labelBrandEdit"), QStringLiteral("labelModelEdit"),
            QStringLiteral("labelRemoteEdit"), QStringLiteral("labelNotesEdit")};
        const QStringList values = {QStringLiteral("格力"), QStringLiteral("KFR-35GW"),
                                    QStringLiteral("YB0F2"), QStringLiteral("三楼")};
        for (int i = 0; i < 4; ++i)
            h.child<QLineEdit>(fields.at(i))->setText(values.at(i));
        h.child<QCheckBox>("addToLibraryBox")->setChecked(true);
        h.window().setTableStatuses({{QStringLiteral("开机"), irlearn::KeyStatus::Tested}});
        QCOMPARE(saveTo(h, QStringLiteral("  ") + target + QStringLiteral(" ")),
                 QStringLiteral("空调遥控指令保存完成！"));
        QCOMPARE(h.messageTitles(), QStringList(2, QStringLiteral("系统提示")));
        QVERIFY(!panel->isVisible());
        QCOMPARE(WindowHarness::readFile(target), codeFileBytes(table));
        const QJsonObject json =
            QJsonDocument::fromJson(WindowHarness::readFile(target + QStringLiteral(".json")))
                .object();
        QCOMPARE(json.value(QStringLiteral("brand")).toString(), values.at(0));
        QCOMPARE(json.value(QStringLiteral("notes")).toString(), values.at(3));
        QCOMPARE(json.value(QStringLiteral("device")).toString(), QStringLiteral("0001"));
        QCOMPARE(json.value(QStringLiteral("keys")).toObject(),
                 QJsonObject({{QStringLiteral("开机"), QStringLiteral("tested")}}));
        const irlearn::TableLibrary library(dir.filePath(QStringLiteral("irlearn/library")));
        const auto entry = library.find(QStringLiteral("格力-kfr-35gw"));
        QVERIFY(entry.has_value());
        QCOMPARE(WindowHarness::readFile(entry->path), codeFileBytes(table));
        QVERIFY(h.logLines().contains(QStringLiteral("已存入码库：格力-kfr-35gw")));

        // The fields and the option are there again for the next save, after a restart too.
        irlearn::MainWindow again{irlearn::Settings(h.settingsPath())};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(again.findChild<QLineEdit *>(fields.at(i))->text(), values.at(i));
        QVERIFY(again.findChild<QCheckBox *>(QStringLiteral("addToLibraryBox"))->isChecked());
        qunsetenv("XDG_DATA_HOME");
    }

    // One device that stores record 6 wrongly, one window, downloads in turn. Refused before
    // anything is sent: a cancelled dialog, a file that is no whole table (the reasons:
    // tst_codefile). Chosen from the library, narrowed by its search box (or cancelled there), and
    // unverified as it always was: the labels shown in the log, the wait notice counting every
    // record up to 16/16 and staying up until its own time limit, nothing said of the wrong
    // record. Changed since labelled: the operator is asked, with the records named. A damaged
    // label file is told and ignored. Verified (the option outlives a restart): the notice counts
    // the write and then the read back, and a box and the log name the record, once each.
    void downloads()
    {
        QuickSim sim({QStringLiteral("--wrong-record"), QStringLiteral("6")});
        QVERIFY(sim.start());
        QTemporaryDir dir;
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path()));
        WindowHarness h(sim.linkPath(), QStringLiteral("0001"), QStringLiteral("COM1"),
                        WindowHarness::quickTimings());
        QVERIFY(h.connectPort());
        NoticeLog notice(h);
        const QString done = QStringLiteral("\n16/16  约剩0秒");
        const QStringList file = irlearn::codefile::load(fixture).lines.mid(0, 16);
        // Every frame of the session so far is compared, so a stray one after a transfer shows.
        QStringList wire;

        const QString bad = dir.filePath(QStringLiteral("codes.bin"));
        QVERIFY(writeFile(bad, codeFileBytes(QStringList(10, QStringLiteral("0A1B")))));
        h.answerNextFileDialog(QString());
        h.click("downloadTableButton");
        h.answerNextFileDialog(bad);
        h.click("downloadTableButton");
        QCOMPARE(h.messages().size(), 1);
        const QString box = h.messages().constFirst();
        QCOMPARE(box.section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("红外指令文件不能下载：") + QDir::toNativeSeparators(bad));
        QVERIFY2(box.section(QLatin1Char('\n'), 1).contains(QStringLiteral("10")), qPrintable(box));
        QVERIFY(!h.child<QWidget>("waitNotice")->isVisible());
        QCOMPARE(records(h.window().table()), QStringList(16, QString()));

        irlearn::CodeTable table;
        std::copy(file.begin(), file.end(), table.begin());
        irlearn::TableLabels labels;
        labels.brand = QStringLiteral("Gree");
        labels.model = QStringLiteral("KFR-35GW");
        const QString labelled = dir.filePath(QStringLiteral("gree.bin"));
        QVERIFY(irlearn::labels::save(labelled, table, labels).labelsWritten);
        const irlearn::TableLibrary library(dir.filePath(QStringLiteral("irlearn/library")));
        QVERIFY(library.add(labelled).ok);
        irlearn::CodeTable other = table;
        std::rotate(other.begin(), other.begin() + 1, other.begin() + 16);
        const QString second = dir.filePath(QStringLiteral("midea.bin"));
        labels.brand = QStringLiteral("Midea");
        QVERIFY(irlearn::labels::save(second, other, labels).labelsWritten);
        QVERIFY(library.add(second).ok);

        int listed = -1;
        h.answerNextDialog([&listed](QDialog *dialog) {
            dialog->findChild<QLineEdit *>(QStringLiteral("librarySearch"))
                ->setText(QStringLiteral("midea"));
            listed = dialog->findChild<QTableWidget *>(QStringLiteral("libraryList"))->rowCount();
            dialog->accept();
        });
        QVERIFY(h.clickIdle("libraryButton"));
        QCOMPARE(listed, 1);
        h.answerNextDialog([](QDialog *dialog) { dialog->reject(); });
        QVERIFY(h.clickIdle("libraryButton"));
        QCOMPARE(h.fileDialogTitles(), QStringList(2, QStringLiteral("选择红外指令文件")));
        QCOMPARE(notice.captions.size(), 17);
        QCOMPARE(notice.captions.constLast(), QStringLiteral("正在写入数据，请稍等...") + done);
        QCOMPARE(notice.shown, QList<bool>(17, true));
        QVERIFY(!h.child<QWidget>("waitNotice")->isVisible());
        const QStringList log = h.logLines();
        QCOMPARE(log.mid(log.size() - 3),
                 (QStringList{QStringLiteral("输出第15行指令！"), QStringLiteral("收到参数：00"),
                              QStringLiteral("下载记录完成！")}));
        wire += opening + records(other);
        QTRY_COMPARE(sim.received(), wire);
        QCOMPARE(
            h.sessionLines().filter(QStringLiteral("标签：品牌：Midea  型号：KFR-35GW")).size(), 1);
        QCOMPARE(h.messages().size(), 1);

        irlearn::CodeTable changed = table;
        changed[3] = other[3];
        QVERIFY(irlearn::codefile::write(labelled, changed, nullptr));
        for (const bool yes : {false, true}) {
            h.answerNextQuestion(yes);
            h.answerNextFileDialog(labelled);
            QVERIFY(h.clickIdle("downloadTableButton"));
        }
        QCOMPARE(h.questions().size(), 2);
        QVERIFY2(h.questions().constFirst().contains(QStringLiteral("第4条记录与标签不符")),
                 qPrintable(h.questions().constFirst()));
        wire += opening + records(changed);
        QTRY_COMPARE(sim.received(), wire);

        QVERIFY(writeFile(labelled + QStringLiteral(".json"), "{\"format\": "));
        h.answerNextFileDialog(labelled);
        QVERIFY(h.clickIdle("downloadTableButton"));
        QCOMPARE(h.questions().size(), 2);
        wire += opening + records(changed);
        QTRY_COMPARE(sim.received(), wire);
        QCOMPARE(h.sessionLines().filter(QStringLiteral("标签文件无效，已忽略：")).size(), 1);
        QCOMPARE(h.messages().size(), 1);

        notice.captions.clear();
        auto *verify = h.child<QCheckBox>("verifyAfterDownloadBox");
        QVERIFY(!verify->isChecked());
        h.click(verify);
        QCOMPARE(h.setting("Download", "Verify"), QStringLiteral("1"));
        h.answerNextFileDialog(fixture);
        QVERIFY(h.clickIdle("downloadTableButton"));
        QCOMPARE(notice.captions.size(), 34);
        QCOMPARE(notice.captions.at(16), QStringLiteral("正在写入数据，请稍等...") + done);
        QCOMPARE(notice.captions.at(33), QStringLiteral("正在读取数据，请稍等...") + done);
        const QString verdict = QStringLiteral("校验失败：第7条记录与文件不一致。");
        // The controls are free once the table is read back; the verdict follows the extra
        // request's wait.
        QTRY_COMPARE(h.messages().mid(1), QStringList{verdict});
        QCOMPARE(h.sessionLines().count(verdict), 1);

        irlearn::MainWindow again{irlearn::Settings(h.settingsPath())};
        auto *kept = again.findChild<QCheckBox *>(QStringLiteral("verifyAfterDownloadBox"));
        QVERIFY(kept->isChecked());
        kept->click();
        QCOMPARE(h.setting("Download", "Verify"), QStringLiteral("0"));
        qunsetenv("XDG_DATA_HOME");
    }
};

QTEST_MAIN(CodeTableTest)
#include "tst_codetable.moc"
