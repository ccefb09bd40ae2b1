// The window's start-up, connection and why one failed, the port list, the panels, settings, the
// log pane's menu and the window's command line, on the simulated device.
#include "support/windowharness.h"

#include "base/inifile.h"
#include "engine/deviceengine.h"
#include "protocol/frames.h"
#include "startoptions.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QUrl>

namespace {

// Receives the addresses QDesktopServices would hand to the browser.
class UrlSink : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    // The window starts before its device is there (an adapter plugged in later): a connect finds
    // it without the list having been opened, and the selector's list shows it once it opens.
    // Closing saves the port and the device number.
    void startUpConnectAndPanels()
    {
        QTemporaryDir dir;
        const QString plugged = dir.filePath(QStringLiteral("ttyPlugged"));
        WindowHarness h{plugged};
        auto *combo1 = h.child<QComboBox>("portSelector");
        QCOMPARE(combo1->currentText(), QStringLiteral("COM1"));
        QCOMPARE(combo1->findText(QStringLiteral("COM1")), -1);
        QCOMPARE(h.child<QLineEdit>("deviceNumberEdit")->text(), QStringLiteral("0001"));
        QCOMPARE(h.button("connectButton")->text(), QStringLiteral("连 接"));
        QVERIFY(h.controlsEnabled(false));
        QVERIFY(!h.button("addCommandButton")->isEnabled());
        for (const char *hidden : {"learnPrompt", "waitNotice", "savePanel"})
            QVERIFY2(!h.child<QWidget>(hidden)->isVisible(), hidden);
        QCOMPARE(h.child<QWidget>("waitNotice")->pos(), QPoint(64, 192));
        auto *combo2 = h.child<QComboBox>("commandNumberBox");
        QCOMPARE(combo2->count(), 108);
        QCOMPARE(combo2->itemText(107), QStringLiteral("108"));
        QCOMPARE(combo2->currentText(), QStringLiteral("1"));
        QVERIFY(h.child<QPlainTextEdit>("logView")->isReadOnly());
        QVERIFY(h.logLines().isEmpty());
        QVERIFY(h.deviceInFront());
        // The command line knows the keys by the names they carry here.
        for (int key = 0; key < irlearn::frames::keyCount; ++key)
            QCOMPARE(h.button(QStringLiteral("keyButton%1").arg(key))->text(),
                     irlearn::frames::keyNames().at(key));
        // Fixed at its designed size; the credit opens the project's page.
        const QSize designed(936, 534);
        QCOMPARE(h.window().size(), designed);
        h.window().resize(1200, 800);
        QTest::qWait(20);
        QCOMPARE(h.window().size(), designed);
        QVERIFY(!(h.window().windowFlags() & Qt::WindowMaximizeButtonHint));
        UrlSink sink;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &sink, "open");
        auto *link = h.child<QLabel>("linkLabel");
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(link, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(sink.opened, QList<QUrl>{QUrl(irlearn::MainWindow::projectUrl)});

        SimProcess sim;
        QVERIFY(sim.start());
        QVERIFY(QFile::link(sim.linkPath(), plugged));
        // Held by another program: told in the log and, whole, in the status strip's tooltip, with
        // the holder named. (A port with nothing behind it: logMenu; the reasons: tst_portinfo.)
        QSerialPort other(plugged);
        QVERIFY(other.open(QIODevice::ReadWrite));
        QVERIFY(!h.connectPort());
        QVERIFY(h.controlsEnabled(false));
        const QString busy = h.logLines().constLast();
        QVERIFY2(busy.startsWith(QStringLiteral("端口被占用：") + plugged) &&
                     busy.contains(QString::number(QCoreApplication::applicationPid())),
                 qPrintable(busy));
        QCOMPARE(h.child<QLabel>("creditLabel")->toolTip(), busy);
        other.close();
        QVERIFY(h.connectPort());
        QCOMPARE(h.child<QLabel>("creditLabel")->toolTip(), QString());
        QVERIFY(!combo1->isEnabled());
        QVERIFY(h.controlsEnabled(true));
        QVERIFY(h.clickIdle("learningToggle"));
        QCOMPARE(sim.received(), QStringList{QStringLiteral("0001F0")});
        QVERIFY(h.logLines().contains(QStringLiteral("--== 输出指令[0001F0] ==--")));
        QVERIFY(h.logLines().contains(QStringLiteral("收到参数：F0")));

        // The command table comes forward in the same place and goes back.
        h.click("panelSwitchButton");
        QVERIFY(!h.deviceInFront());
        QCOMPARE(h.button("panelSwitchButton")->text(), QStringLiteral("设备面板"));
        QCOMPARE(h.child<QWidget>("commandTablePanel")->geometry(), QRect(0, 56, 545, 449));
        QCOMPARE(h.child<QWidget>("devicePanel")->geometry().topLeft(), QPoint(0, 56));
        h.click("panelSwitchButton");
        QVERIFY(h.deviceInFront());
        QCOMPARE(h.button("panelSwitchButton")->text(), QStringLiteral("指令表"));

        h.click("connectButton");
        QVERIFY(!h.connected());
        QVERIFY(combo1->isEnabled());
        QVERIFY(h.controlsEnabled(false));
        QVERIFY(!h.window().engine().isOpen());
        // Released, the port is listed again: only ports that can be opened are.
        combo1->showPopup();
        combo1->hidePopup();
        QVERIFY(combo1->findText(QStringLiteral("COM1")) >= 0);
        QCOMPARE(combo1->toolTip(), plugged);
        // The entry names the device the system sees behind the pinned name.
        QCOMPARE(
            combo1->itemData(combo1->findText(QStringLiteral("COM1")), Qt::ToolTipRole).toString(),
            plugged + QLatin1Char('\n') + QFileInfo(sim.linkPath()).canonicalFilePath());

        // Saved also while connected, the pins kept. The desktop session's end takes the same
        // path, but its signal cannot be raised from a test.
        QVERIFY(h.connectPort());
        h.child<QLineEdit>("deviceNumberEdit")->setText(QStringLiteral("00\n12"));
        h.window().close();
        QCOMPARE(h.setting("Setup", "TXPort"), QStringLiteral("COM1"));
        QCOMPARE(h.setting("Setup", "TXsbID"), QStringLiteral("00 12"));
        QCOMPARE(h.setting("Ports", "COM1"), plugged);
    }

    // The log pane's menu: it opens on a right-click; copy and select all; save (UTF-8, CR LF, time
    // stamps once on); a save that cannot be made is told and leaves nothing behind; clear. The
    // time-stamp option outlives a restart. The lines it holds say why a connect found no port.
    void logMenu()
    {
        QTemporaryDir dir;
        const QString gone = dir.filePath(QStringLiteral("ttyGone"));
        WindowHarness h{gone}; // COM1 pinned to a device that is not there
        auto *pane = h.child<QPlainTextEdit>("logView");
        const auto action = [&h](const char *name) {
            return h.window().findChild<QAction *>(QLatin1String(name));
        };
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(20, 20),
                                     pane->viewport()->mapToGlobal(QPoint(20, 20)));
        QCoreApplication::sendEvent(pane->viewport(), &rightClick);
        auto *menu = h.window().findChild<QMenu *>(QStringLiteral("LogMenu"));
        QTRY_VERIFY(menu->isVisible());
        menu->hide();

        QVERIFY(!h.connectPort());
        action("LogTimeStamps")->trigger();
        QCOMPARE(h.setting("Log", "TimeStamps"), QStringLiteral("1"));
        // A port with no device pinned or listed behind it, shown although it is not in the list.
        h.child<QComboBox>("portSelector")->setEditText(QStringLiteral("COM9"));
        QVERIFY(!h.connectPort());
        QVERIFY(h.controlsEnabled(false));
        const QStringList lines = h.logLines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0), QStringLiteral("端口不存在：%1（设备未连接或已拔出）").arg(gone));
        const QRegularExpression stamped(
            QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} 端口不存在：COM9$"));
        QVERIFY2(stamped.match(lines.at(1)).hasMatch(), qPrintable(lines.at(1)));

        QVERIFY(!action("LogCopy")->isEnabled());
        action("LogSelectAll")->trigger();
        QVERIFY(action("LogCopy")->isEnabled());
        action("LogCopy")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), pane->toPlainText());

        const QString path = dir.filePath(QStringLiteral("日志.txt"));
        h.answerNextFileDialog(path);
        action("LogSave")->trigger();
        QCOMPARE(WindowHarness::readFile(path),
                 (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
        QCOMPARE(h.fileDialogTitles(), QStringList{QStringLiteral("保存日志")});

        // Into a "folder" that is a regular file (root writes into read-only folders).
        const QString notFolder = dir.filePath(QStringLiteral("plain"));
        QVERIFY(QFile(notFolder).open(QIODevice::WriteOnly));
        const QString bad = notFolder + QStringLiteral("/log.txt");
        h.answerNextFileDialog(bad);
        action("LogSave")->trigger();
        QCOMPARE(h.messages().size(), 1);
        QVERIFY2(h.messages().at(0).startsWith(QStringLiteral("日志未保存：") + bad),
                 qPrintable(h.messages().at(0)));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{QStringLiteral("plain"), QStringLiteral("日志.txt")}));
        QCOMPARE(QFileInfo(notFolder).size(), 0);

        action("LogClear")->trigger();
        QVERIFY(pane->toPlainText().isEmpty());
        h.answerNextFileDialog(path);
        action("LogSave")->trigger();
        QCOMPARE(WindowHarness::readFile(path), QByteArray());

        irlearn::MainWindow again{irlearn::Settings(h.settingsPath())};
        QVERIFY(again.findChild<QAction *>(QStringLiteral("LogTimeStamps"))->isChecked());
    }

    // --port and --device select at start-up and are saved only where the operator changed them; a
    // command line that cannot be followed is refused with status 2; --version prints the version.
    // A first run, with no settings file, selects nothing and saves what was typed.
    void commandLineAndFirstRun()
    {
        using irlearn::StartOptions;
        const QString program = QStringLiteral("irlearn");
        const StartOptions given =
            StartOptions::parse({program, QStringLiteral("--port"), QStringLiteral("com7"),
                                 QStringLiteral("--device"), QStringLiteral("0042")});
        QCOMPARE(given.action, StartOptions::Action::Run);
        QCOMPARE(given.port, QStringLiteral("COM7"));
        QCOMPARE(given.device, QStringLiteral("0042"));
        for (const char *bad : {"--port COM33", "--port COM0", "--port 7", "--device 42",
                                "--device 00x1", "--bogus", "stray", "--port"}) {
            const StartOptions refused = StartOptions::parse(
                QStringList{program} + QString::fromLatin1(bad).split(QLatin1Char(' ')));
            QVERIFY2(refused.action == StartOptions::Action::Refuse && !refused.error.isEmpty(),
                     bad);
        }

        for (const bool changed : {false, true}) {
            WindowHarness h{QString()}; // saved: COM1, 0001
            h.window().startWith(QStringLiteral("COM7"), QStringLiteral("0042"));
            QCOMPARE(h.child<QComboBox>("portSelector")->currentText(), QStringLiteral("COM7"));
            QCOMPARE(h.child<QLineEdit>("deviceNumberEdit")->text(), QStringLiteral("0042"));
            if (changed)
                h.child<QLineEdit>("deviceNumberEdit")->setText(QStringLiteral("0043"));
            h.window().close();
            QCOMPARE(h.setting("Setup", "TXPort"), QStringLiteral("COM1"));
            QCOMPARE(h.setting("Setup", "TXsbID"),
                     changed ? QStringLiteral("0043") : QStringLiteral("0001"));
        }

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("VexoSet.ini"));
        {
            irlearn::MainWindow window{irlearn::Settings(path)};
            QVERIFY(window.findChild<QComboBox *>(QStringLiteral("portSelector"))
                        ->currentText()
                        .isEmpty());
            QVERIFY(window.findChild<QLineEdit *>(QStringLiteral("deviceNumberEdit"))
                        ->text()
                        .isEmpty());
            QVERIFY(!QFile::exists(path));
            window.findChild<QLineEdit *>(QStringLiteral("deviceNumberEdit"))
                ->setText(QStringLiteral("0007"));
            window.close();
        }
        const irlearn::IniFile saved(path);
        const QString setup = QStringLiteral("Setup");
        QCOMPARE(saved.read(setup, QStringLiteral("TXsbID"), QString()), QStringLiteral("0007"));
        QCOMPARE(saved.read(setup, QStringLiteral("TXPort"), QStringLiteral("?")), QString());

        QProcess app;
        app.start(QStringLiteral(IRLEARN_APP_PATH), {QStringLiteral("--version")});
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitCode(), 0);
        QCOMPARE(app.readAllStandardOutput(), QByteArray("irlearn " IRLEARN_VERSION "\n"));
        app.start(QStringLiteral(IRLEARN_APP_PATH),
                  {QStringLiteral("--device"), QStringLiteral("12")});
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitCode(), StartOptions::refusedStatus);
        QVERIFY(app.readAllStandardOutput().isEmpty());
        QVERIFY(QString::fromUtf8(app.readAllStandardError())
                    .contains(QStringLiteral("设备号无效：12")));
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
