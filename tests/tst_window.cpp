// The window's start-up, connection and why one failed, the port list, the panels, settings, the
// log pane's menu and the window's command line, on the simulated device.
#include "support/windowharness.h"

#include "appearance.h"
#include "base/inifile.h"
#include "base/sessionlog.h"
#include "codefile/codefile.h"
#include "engine/deviceengine.h"
#include "engine/messages.h"
#include "protocol/frames.h"
#include "startoptions.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSerialPort>
#include <QTableWidget>
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
        QVERIFY(h.child<QPlainTextEdit>("logView")->isReadOnly());
        QVERIFY(h.logLines().isEmpty());
        QVERIFY(h.deviceInFront());
        // The command line knows the keys by the names they carry here.
        for (int key = 0; key < irlearn::frames::keyCount; ++key)
            QCOMPARE(h.button(QStringLiteral("keyButton%1").arg(key))->text(),
                     irlearn::frames::keyNames().at(key));
        // Fixed at its designed size.
        const QSize designed = h.window().size();
        h.window().resize(designed * 2);
        QCOMPARE(h.window().size(), designed);
        QVERIFY(!(h.window().windowFlags() & Qt::WindowMaximizeButtonHint));
        // The link opens the installed README; a build tree has none, and shows no link.
        UrlSink sink;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &sink, "open");
        auto *link = h.child<QLabel>("linkLabel");
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(link->isVisible(), QFileInfo(irlearn::MainWindow::manualPath()).isFile());
        QTest::mouseClick(link, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(sink.opened, QList<QUrl>{QUrl::fromLocalFile(irlearn::MainWindow::manualPath())});
        QVERIFY(irlearn::MainWindow::manualPath().endsWith(
            QStringLiteral("/share/doc/irlearn/README.md")));
        // The command table names its columns.
        auto *grid = h.child<QTableWidget>("commandGrid");
        QStringList columns;
        for (int c = 0; c < grid->columnCount(); ++c)
            columns << grid->horizontalHeaderItem(c)->text();
        QCOMPARE(columns, (QStringList{QStringLiteral("指令号"), QStringLiteral("指令名称"),
                                       QStringLiteral("备注"), QStringLiteral("状态")}));

        // Nothing to connect to is said, not ignored.
        combo1->setEditText(QString());
        h.click("connectButton");
        QVERIFY(!h.connected());
        QCOMPARE(h.logLines().constLast(), QStringLiteral("请选择通信端口"));
        QCOMPARE(h.child<QLabel>("creditLabel")->toolTip(), QStringLiteral("请选择通信端口"));
        combo1->setEditText(QStringLiteral("COM1"));

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
        QCOMPARE(h.logLines().constLast(),
                 QStringLiteral("已连接 COM1：%1，9600,n,8,1").arg(plugged));
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
        QCOMPARE(h.child<QWidget>("commandTablePanel")->pos(),
                 h.child<QWidget>("devicePanel")->pos());
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

        // Saved also while connected, the pins kept. The desktop session's end takes the same
        // path, but its signal cannot be raised from a test.
        QVERIFY(h.connectPort());
        h.child<QLineEdit>("deviceNumberEdit")->setText(QStringLiteral("00\n12"));
        h.window().close();
        QCOMPARE(h.setting("Setup", "TXPort"), QStringLiteral("COM1"));
        QCOMPARE(h.setting("Setup", "TXsbID"), QStringLiteral("00 12"));
        QCOMPARE(h.setting("Ports", "COM1"), plugged);
    }

    // The log pane's menu: it opens on a right-click; copy and select all; save (the whole session,
    // UTF-8, CR LF, time stamps once), also after the pane restarted at its limit; a save that
    // cannot be made is told and leaves nothing behind; clear; open the session log's folder. The
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

        // Saved from the session log: each line once stamped, whatever the pane shows.
        const QString path = dir.filePath(QStringLiteral("日志.txt"));
        QCOMPARE(h.sessionLines(), (QStringList{lines.at(0), QStringLiteral("端口不存在：COM9")}));
        const auto savedSession = [&h, &path] {
            return WindowHarness::readFile(path) == h.sessionFile().replace("\n", "\r\n");
        };
        h.answerNextFileDialog(path);
        action("LogSave")->trigger();
        QVERIFY(savedSession());
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

        // Cleared, the pane is empty, and when it starts afresh at its limit it keeps only its
        // last lines; the session is still all there.
        action("LogClear")->trigger();
        QVERIFY(pane->toPlainText().isEmpty());
        for (int i = 0; i < 100; ++i)
            emit h.window().engine().logLine(QStringLiteral("第%1行 ").arg(i) +
                                             QString(200, QLatin1Char('x')));
        QVERIFY(h.logLines().size() < 100);
        QCOMPARE(h.sessionLines().size(), 102);
        h.answerNextFileDialog(path);
        action("LogSave")->trigger();
        QVERIFY(savedSession());

        UrlSink sink;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &sink, "open");
        action("LogOpenFolder")->trigger();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(sink.opened, QList<QUrl>{QUrl::fromLocalFile(h.sessionLogFolder())});

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

        // The program itself: --version and --help need no display, they are answered before the
        // GUI starts; a refused command line ends with its status.
        QProcessEnvironment headless = QProcessEnvironment::systemEnvironment();
        headless.remove(QStringLiteral("DISPLAY"));
        headless.remove(QStringLiteral("WAYLAND_DISPLAY"));
        headless.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // out: a pattern for all of standard output.
        const auto run = [](const QProcessEnvironment &env, const char *args, int status,
                            const QString &out, const QString &err) {
            QProcess app;
            app.setProcessEnvironment(env);
            app.start(QStringLiteral(IRLEARN_APP_PATH),
                      QString::fromLatin1(args).split(QLatin1Char(' ')));
            return app.waitForFinished(10000) && app.exitStatus() == QProcess::NormalExit &&
                   app.exitCode() == status &&
                   QRegularExpression(out)
                       .match(QString::fromUtf8(app.readAllStandardOutput()))
                       .hasMatch() &&
                   QString::fromUtf8(app.readAllStandardError()).contains(err);
        };
        QVERIFY(run(headless, "--version", 0,
                    QStringLiteral("^irlearn ") +
                        QRegularExpression::escape(QStringLiteral(IRLEARN_VERSION "\n")) +
                        QLatin1Char('$'),
                    QString()));
        QVERIFY(run(headless, "--help", 0, QStringLiteral("^用法：irlearn"), QString()));
        QVERIFY(run(QProcessEnvironment::systemEnvironment(), "--device 12",
                    StartOptions::refusedStatus, QStringLiteral("^$"),
                    QStringLiteral("设备号无效：12")));
    }

    // Every text the wait notice and the learning prompt show fits its label at each CJK font the
    // package depends on; both lie inside the window above the status strip, the notice clear of
    // the verify option, the prompt above and clear of every control of the panel in front, the
    // wizard's button clear of its neighbours.
    void textsFit()
    {
        QStringList shown;
        QStringList tooBig;
        const auto show = [&shown, &tooBig](const QLabel *label) {
            shown << label->text();
            // A label that wraps needs its height at its width; one that does not, its one line.
            const QSize need = label->wordWrap() ? QSize(0, label->heightForWidth(label->width()))
                                                 : label->sizeHint();
            if (need.width() > label->width() || need.height() > label->height())
                tooBig << label->text();
        };
        for (const char *family : {"AR PL UMing CN", "WenQuanYi Micro Hei"}) {
            // Styled labels take the application font, set before the window as the program does.
            QFont font = irlearn::appFont();
            font.setFamilies({QLatin1String(family)});
            QApplication::setFont(font);
            WindowHarness h{QString()};
            irlearn::MainWindow &w = h.window();
            w.setFont(font);
            irlearn::DeviceEngine &engine = w.engine();
            const auto inWindow = [&w](const QWidget *widget) {
                return QRect(widget->mapTo(&w, QPoint(0, 0)), widget->size());
            };
            // The shown children of parent, but skip, that overlap area (in the window's frame).
            const auto overlapping = [&inWindow](const QWidget *parent, const QRect &area,
                                                 const QWidget *skip) {
                QStringList names;
                for (const QWidget *child :
                     parent->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
                    if (child != skip && !child->isHidden() && inWindow(child).intersects(area))
                        names << child->objectName();
                }
                return names;
            };
            const int strip = h.child<QWidget>("statusStrip")->geometry().top();
            auto *notice = h.child<QLabel>("waitNoticeLabel");
            auto *prompt = h.child<QLabel>("learnPromptLabel");
            for (QLabel *label : {notice, prompt}) {
                QCOMPARE(QFontInfo(label->font()).family(), QLatin1String(family));
                const QRect area = inWindow(label->parentWidget());
                QVERIFY2(w.rect().contains(area) && area.bottom() < strip &&
                             label->parentWidget()->rect().contains(label->geometry()),
                         qPrintable(label->objectName()));
            }
            QVERIFY(!inWindow(h.child<QWidget>("verifyAfterDownloadBox"))
                         .intersects(inWindow(notice->parentWidget())));

            for (const char *caption : {"正在读取数据，请稍等...", "正在写入数据，请稍等..."}) {
                emit engine.noticeShown(QString::fromUtf8(caption));
                show(notice);
                for (const int done : {0, 7, 16}) {
                    emit engine.progress(done, 16);
                    show(notice);
                }
            }
            // A key's learning names the key; the wait after a learnt command counts down.
            for (int key = -1; key < irlearn::frames::keyCount; ++key) {
                if (key >= 0)
                    emit engine.keyPrompt(key);
                emit engine.learnPromptChanged(true);
                show(prompt);
                for (const int left : {15, 9, 0}) {
                    emit engine.learningCountdown(left);
                    show(prompt);
                }
            }
            for (const int left : {15, 9, 1}) {
                emit engine.learningEndsIn(left);
                show(prompt);
            }
            QCOMPARE(tooBig, QStringList());
            QVERIFY(shown.contains(QStringLiteral("正在读取数据，请稍等...\n7/16  约剩%1秒")
                                       .arg((9 * (engine.timings().pacingMs + 268) + 999) / 1000)));

            auto *wizard = h.child<QPushButton>("learningWizardButton");
            QVERIFY(wizard->parentWidget()->rect().contains(wizard->geometry()));
            QVERIFY(wizard->sizeHint().width() <= wizard->width());
            QCOMPARE(overlapping(wizard->parentWidget(), inWindow(wizard), wizard), QStringList());
            for (const bool commands : {false, true}) {
                if (h.deviceInFront() == commands)
                    h.click("panelSwitchButton");
                QWidget *front = h.child<QWidget>(commands ? "commandTablePanel" : "devicePanel");
                QWidget *box = prompt->parentWidget();
                QVERIFY(box->isVisible());
                const QObjectList &siblings = box->parent()->children();
                QVERIFY(siblings.indexOf(box) > siblings.indexOf(front));
                // The grid shows no rows; the notice never shows while learning.
                QCOMPARE(overlapping(front, inWindow(box), h.child<QWidget>("commandGrid")),
                         QStringList());
            }
        }
        QApplication::setFont(QFont());
        // The texts really were the ones the operator sees.
        QVERIFY(shown.contains(
            QStringLiteral("请将遥控器对准黑色的接收头，按下需要学习指令的按钮... 15秒")));
        QVERIFY(shown.contains(irlearn::messages::pressKey(irlearn::frames::keyNames().last()) +
                               QStringLiteral(" 9秒")));
        QVERIFY(shown.contains(irlearn::messages::learningEndsIn(15)));
    }

    // The whole session on disk: each line as it comes, time-stamped, in the day's file, older
    // files than 30 days removed at start; a session appending to the day's file reads back only
    // its own lines; a folder that cannot be written costs the file, not the lines. (The window's
    // own, under $XDG_STATE_HOME/irlearn: logMenu.)
    void sessionLog()
    {
        using irlearn::SessionLog;
        QTemporaryDir dir;
        const QDir folder(dir.filePath(QStringLiteral("irlearn")));
        QVERIFY(folder.mkpath(QStringLiteral(".")));
        const QDate today = QDate::currentDate();
        const auto dayFile = [&folder](const QDate &day) {
            return folder.filePath(SessionLog::fileName(day));
        };
        for (const QString &name : {dayFile(today.addDays(-31)), dayFile(today.addDays(-30)),
                                    folder.filePath(QStringLiteral("notes.txt"))}) {
            QFile file(name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("old\n");
        }
        const QString stamp = QStringLiteral("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
        {
            SessionLog log(folder.path());
            QVERIFY(!QFile::exists(dayFile(today.addDays(-31))));
            QVERIFY(QFile::exists(dayFile(today.addDays(-30))));
            QVERIFY(QFile::exists(folder.filePath(QStringLiteral("notes.txt"))));
            QVERIFY(log.append(QStringLiteral("一\r\n二")));
            QVERIFY(log.append(QStringLiteral("三")));
            const QByteArray written = WindowHarness::readFile(dayFile(today));
            QVERIFY2(QRegularExpression(QLatin1Char('^') + stamp + QStringLiteral("一\n二\n") +
                                        stamp + QStringLiteral("三\n$"))
                         .match(QString::fromUtf8(written))
                         .hasMatch(),
                     written.constData());
            QCOMPARE(log.session(), written);
        }
        {
            SessionLog again(folder.path());
            QVERIFY(again.append(QStringLiteral("四")));
            QVERIFY(QRegularExpression(QLatin1Char('^') + stamp + QStringLiteral("四\n$"))
                        .match(QString::fromUtf8(again.session()))
                        .hasMatch());
        }
        {
            SessionLog nowhere(folder.filePath(QStringLiteral("notes.txt/irlearn")));
            QVERIFY(!nowhere.append(QStringLiteral("五")));
            QVERIFY(!nowhere.problem().isEmpty());
            QVERIFY(nowhere.session().isEmpty());
        }
    }

    // Saving a code file over an existing one asks first, and "否" leaves the file as it was; the
    // file dialogs start in the folder used last, which the settings file keeps; Qt's own texts
    // (the buttons of its boxes and dialogs) are Chinese.
    void codeFileDialogs()
    {
        QVERIFY(irlearn::installQtTranslations());
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));

        const irlearn::codefile::Loaded file =
            irlearn::codefile::load(QStringLiteral(IRLEARN_TEST_DATA "/table16.bin"));
        QVERIFY(file.ok);
        irlearn::CodeTable table;
        irlearn::codefile::fill(table, file.lines);

        QTemporaryDir dir;
        const QString existing = dir.filePath(QStringLiteral("空调.bin"));
        {
            QFile keep(existing);
            QVERIFY(keep.open(QIODevice::WriteOnly));
            keep.write("keep");
        }
        WindowHarness h{QString()};
        emit h.window().engine().tableRead(table);
        QVERIFY(h.child<QWidget>("savePanel")->isVisible());
        h.answerNextFileDialog(existing);
        h.click("browseSaveFileButton");
        QCOMPARE(h.fileDialogFolders(), QStringList{QDir::homePath()});
        QCOMPARE(h.setting("Files", "Folder"), dir.path());

        h.answerNextQuestion(false);
        h.click("saveTableButton");
        QCOMPARE(h.questions().size(), 1);
        QVERIFY(h.questions().at(0).contains(existing));
        QCOMPARE(WindowHarness::readFile(existing), QByteArray("keep"));
        QVERIFY(h.messages().isEmpty());
        QVERIFY(h.child<QWidget>("savePanel")->isVisible());

        h.click("saveTableButton"); // answered "是"
        QCOMPARE(h.questions().size(), 2);
        QTRY_COMPARE(h.messages(), QStringList{QStringLiteral("空调遥控指令保存完成！")});
        QCOMPARE(irlearn::codefile::load(existing).lines.mid(0, 16), file.lines.mid(0, 16));

        // The next dialog, in this run or the next, starts where the last one ended.
        h.answerNextFileDialog(QString());
        h.window().findChild<QAction *>(QStringLiteral("LogSave"))->trigger();
        QCOMPARE(h.fileDialogFolders().constLast(), dir.path());
    }

    // The log pane follows each line as it comes, and what it shows is what a fresh drawing of
    // it shows: its scroll bar is redrawn only where the handle moves, and nothing stale of the
    // handle may be left.
    void logPaneFollowsNewLines()
    {
        WindowHarness h{QString()};
        irlearn::MainWindow &w = h.window();
        QScrollBar *bar = h.child<QPlainTextEdit>("logView")->verticalScrollBar();
        const auto drawnAsNew = [&w] {
            const auto rgb = [](const QPixmap &p) {
                return p.toImage().convertToFormat(QImage::Format_RGB32);
            };
            return rgb(w.screen()->grabWindow(w.winId())) == rgb(w.grab());
        };
        // Short lines until the pane is about to scroll (then its handle shrinks a little with
        // each one), then records' long ones.
        const QString reply(514, QLatin1Char('7'));
        for (int n = 1; n <= 48; ++n) {
            emit w.engine().logLine(n <= 40 ? QStringLiteral("读取第%1行").arg(n) : reply);
            QCOMPARE(bar->value(), bar->maximum());
            if (n > 32)
                QVERIFY2(QTest::qWaitFor(drawnAsNew), qPrintable(QString::number(n)));
        }
        QVERIFY(bar->maximum() > bar->pageStep());
        QCOMPARE(h.logLines().size(), 48);
        QCOMPARE(h.logLines().constLast(), reply);
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
