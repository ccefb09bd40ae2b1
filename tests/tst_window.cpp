// The window's start-up, connection and why one failed, the port list, the panels, settings, the
// log pane's menu and the window's command line, on the simulated device.
#include "support/windowharness.h"

#include "appearance.h"
#include "base/inifile.h"
#include "base/sessionlog.h"
#include "codefile/codefile.h"
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
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSerialPort>
#include <QStyleOptionSlider>
#include <QTableWidget>
#include <QTextBlock>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

// Receives the local addresses QDesktopServices would hand to the browser while it lives.
class UrlSink : public QObject
{
    Q_OBJECT
public:
    UrlSink() { QDesktopServices::setUrlHandler(u"file"_s, this, "open"); }
    ~UrlSink() override { QDesktopServices::unsetUrlHandler(u"file"_s); }
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
        const QString plugged = dir.filePath(u"ttyPlugged"_s);
        WindowHarness h{plugged};
        auto *combo1 = h.child<QComboBox>("portSelector");
        QCOMPARE(combo1->currentText(), u"COM1"_s);
        QCOMPARE(combo1->findText(u"COM1"_s), -1);
        QCOMPARE(h.button("connectButton")->text(), u"连 接"_s);
        QVERIFY(h.controlsEnabled(false));
        QVERIFY(!h.button("addCommandButton")->isEnabled());
        for (const char *hidden : {"learnPrompt", "waitNotice", "savePanel"})
            QVERIFY2(!h.child<QWidget>(hidden)->isVisible(), hidden);
        QVERIFY(h.logLines().isEmpty());
        QVERIFY(h.deviceInFront());
        // The command line knows the keys by the names they carry here.
        for (int key = 0; key < irlearn::frames::keyCount; ++key)
            QCOMPARE(h.button(u"keyButton%1"_s.arg(key))->text(),
                     irlearn::frames::keyNames().at(key));
        // Fixed at its designed size.
        const QSize designed = h.window().size();
        h.window().resize(designed * 2);
        QCOMPARE(h.window().size(), designed);
        QVERIFY(!(h.window().windowFlags() & Qt::WindowMaximizeButtonHint));
        // The link opens the installed README; a build tree has none, and shows no link.
        UrlSink sink;
        auto *link = h.child<QLabel>("linkLabel");
        QCOMPARE(link->isVisible(), QFileInfo(irlearn::MainWindow::manualPath()).isFile());
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(sink.opened, QList<QUrl>{QUrl::fromLocalFile(irlearn::MainWindow::manualPath())});
        QVERIFY(irlearn::MainWindow::manualPath().endsWith(u"/share/doc/irlearn/README.md"_s));
        // The command table names its columns.
        auto *grid = h.child<QTableWidget>("commandGrid");
        QStringList columns;
        for (int c = 0; c < grid->columnCount(); ++c)
            columns << grid->horizontalHeaderItem(c)->text();
        QCOMPARE(columns, (QStringList{u"指令号"_s, u"指令名称"_s, u"备注"_s, u"状态"_s}));

        // Nothing to connect to is said, not ignored.
        combo1->setEditText(QString());
        h.click("connectButton");
        QVERIFY(!h.connected());
        QCOMPARE(h.logLines().constLast(), u"请选择通信端口"_s);
        QCOMPARE(h.child<QLabel>("creditLabel")->toolTip(), u"请选择通信端口"_s);
        combo1->setEditText(u"COM1"_s);

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
        QVERIFY2(busy.startsWith(u"端口被占用："_s + plugged) &&
                     busy.contains(QString::number(QCoreApplication::applicationPid())),
                 qPrintable(busy));
        QCOMPARE(h.child<QLabel>("creditLabel")->toolTip(), busy);
        other.close();
        QVERIFY(h.connectPort());
        QCOMPARE(h.logLines().constLast(), u"已连接 COM1：%1，9600,n,8,1"_s.arg(plugged));
        QCOMPARE(h.child<QLabel>("creditLabel")->toolTip(), QString());
        QVERIFY(!combo1->isEnabled());
        QVERIFY(h.controlsEnabled(true));
        QVERIFY(h.clickIdle("learningToggle"));
        QCOMPARE(sim.received(), QStringList{u"0001F0"_s});
        QVERIFY(h.logLines().contains(u"--== 输出指令[0001F0] ==--"_s));
        QVERIFY(h.logLines().contains(u"收到参数：F0"_s));

        // The command table comes forward and goes back.
        for (const bool device : {false, true}) {
            h.click("panelSwitchButton");
            QCOMPARE(h.deviceInFront(), device);
            QCOMPARE(h.button("panelSwitchButton")->text(), device ? u"指令表"_s : u"设备面板"_s);
        }

        h.click("connectButton");
        QVERIFY(!h.connected());
        QVERIFY(combo1->isEnabled());
        QVERIFY(h.controlsEnabled(false));
        QVERIFY(!h.window().engine().isOpen());
        // Released, the port is listed again: only ports that can be opened are.
        combo1->showPopup();
        combo1->hidePopup();
        QVERIFY(combo1->findText(u"COM1"_s) >= 0);
        QCOMPARE(combo1->toolTip(), plugged);

        // Saved also while connected, the pins kept. The desktop session's end takes the same
        // path, but its signal cannot be raised from a test.
        QVERIFY(h.connectPort());
        h.child<QLineEdit>("deviceNumberEdit")->setText(u"00\n12"_s);
        h.window().close();
        QCOMPARE(h.setting("Setup", "TXPort"), u"COM1"_s);
        QCOMPARE(h.setting("Setup", "TXsbID"), u"00 12"_s);
        QCOMPARE(h.setting("Ports", "COM1"), plugged);
    }

    // The log pane's menu: it opens on a right-click; copy and select all; save (the whole session,
    // UTF-8, CR LF, time stamps once), also after the pane restarted at its limit; a save that
    // cannot be made is told and leaves nothing behind; clear; open the session log's folder. The
    // time-stamp option outlives a restart. The lines it holds say why a connect found no port.
    void logMenu()
    {
        QTemporaryDir dir;
        const QString gone = dir.filePath(u"ttyGone"_s);
        WindowHarness h{gone}; // COM1 pinned to a device that is not there
        auto *pane = h.child<QPlainTextEdit>("logView");
        const auto action = [&h](const char *name) {
            return h.window().findChild<QAction *>(QLatin1String(name));
        };
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(20, 20),
                                     pane->viewport()->mapToGlobal(QPoint(20, 20)));
        QCoreApplication::sendEvent(pane->viewport(), &rightClick);
        auto *menu = h.window().findChild<QMenu *>(u"LogMenu"_s);
        QTRY_VERIFY(menu->isVisible());
        menu->hide();

        QVERIFY(!h.connectPort());
        action("LogTimeStamps")->trigger();
        QCOMPARE(h.setting("Log", "TimeStamps"), u"1"_s);
        // A port with no device pinned or listed behind it, shown although it is not in the list.
        h.child<QComboBox>("portSelector")->setEditText(u"COM9"_s);
        QVERIFY(!h.connectPort());
        QVERIFY(h.controlsEnabled(false));
        const QStringList lines = h.logLines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0), u"端口不存在：%1（设备未连接或已拔出）"_s.arg(gone));
        const QRegularExpression stamped(u"^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} 端口不存在：COM9$"_s);
        QVERIFY2(stamped.match(lines.at(1)).hasMatch(), qPrintable(lines.at(1)));

        QVERIFY(!action("LogCopy")->isEnabled());
        action("LogSelectAll")->trigger();
        QVERIFY(action("LogCopy")->isEnabled());
        action("LogCopy")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), pane->toPlainText());

        // Saved from the session log: each line once stamped, whatever the pane shows.
        const QString path = dir.filePath(u"日志.txt"_s);
        QCOMPARE(h.sessionLines(), (QStringList{lines.at(0), u"端口不存在：COM9"_s}));
        // Saved through the menu: whether the file holds the session as on disk, in CR LF.
        const auto save = [&h, &action](const QString &file) {
            h.answerNextFileDialog(file);
            action("LogSave")->trigger();
            return WindowHarness::readFile(file) == h.sessionFile().replace("\n", "\r\n");
        };
        QVERIFY(save(path));
        QCOMPARE(h.fileDialogTitles(), QStringList{u"保存日志"_s});

        // Into a "folder" that is a regular file (root writes into read-only folders).
        const QString notFolder = dir.filePath(u"plain"_s);
        QVERIFY(WindowHarness::writeFile(notFolder, {}));
        const QString bad = notFolder + u"/log.txt"_s;
        QVERIFY(!save(bad));
        QVERIFY2(h.messages().size() == 1 && h.messages().at(0).startsWith(u"日志未保存："_s + bad),
                 qPrintable(h.messages().join(u'\n')));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{u"plain"_s, u"日志.txt"_s}));
        QCOMPARE(QFileInfo(notFolder).size(), 0);

        // Cleared, the pane is empty, and when it starts afresh at its limit it keeps only its
        // last lines; the session is still all there.
        action("LogClear")->trigger();
        QVERIFY(pane->toPlainText().isEmpty());
        for (int i = 0; i < 100; ++i)
            emit h.window().engine().logLine(u"第%1行 "_s.arg(i) + QString(200, u'x'));
        QVERIFY(h.logLines().size() < 100);
        QCOMPARE(h.sessionLines().size(), 102);
        QVERIFY(save(path));

        UrlSink sink;
        action("LogOpenFolder")->trigger();
        QCOMPARE(sink.opened, QList<QUrl>{QUrl::fromLocalFile(h.sessionLogFolder())});

        irlearn::MainWindow again{irlearn::Settings(h.settingsPath())};
        QVERIFY(again.findChild<QAction *>(u"LogTimeStamps"_s)->isChecked());
    }

    // --port and --device select at start-up and are saved only where the operator changed them; a
    // command line that cannot be followed is refused with status 2; --version prints the version.
    // A first run, with no settings file, selects nothing and saves what was typed.
    void commandLineAndFirstRun()
    {
        using irlearn::StartOptions;
        const auto parse = [](const char *args) {
            return StartOptions::parse((u"irlearn "_s + QLatin1String(args)).split(u' '));
        };
        const StartOptions given = parse("--port com7 --device 0042");
        QCOMPARE(given.action, StartOptions::Action::Run);
        QCOMPARE(given.port, u"COM7"_s);
        QCOMPARE(given.device, u"0042"_s);
        for (const char *bad : {"--port COM33", "--port COM0", "--port 7", "--device 42",
                                "--device 00x1", "--bogus", "stray", "--port"}) {
            const StartOptions refused = parse(bad);
            QVERIFY2(refused.action == StartOptions::Action::Refuse && !refused.error.isEmpty(),
                     bad);
        }

        for (const bool changed : {false, true}) {
            WindowHarness h{QString()}; // saved: COM1, 0001
            h.window().startWith(u"COM7"_s, u"0042"_s);
            QCOMPARE(h.child<QComboBox>("portSelector")->currentText(), u"COM7"_s);
            QCOMPARE(h.child<QLineEdit>("deviceNumberEdit")->text(), u"0042"_s);
            if (changed)
                h.child<QLineEdit>("deviceNumberEdit")->setText(u"0043"_s);
            h.window().close();
            QCOMPARE(h.setting("Setup", "TXPort"), u"COM1"_s);
            QCOMPARE(h.setting("Setup", "TXsbID"), changed ? u"0043"_s : u"0001"_s);
        }

        QTemporaryDir dir;
        const QString path = dir.filePath(u"VexoSet.ini"_s);
        {
            irlearn::MainWindow window{irlearn::Settings(path)};
            QVERIFY(window.findChild<QComboBox *>(u"portSelector"_s)->currentText().isEmpty());
            QVERIFY(window.findChild<QLineEdit *>(u"deviceNumberEdit"_s)->text().isEmpty());
            QVERIFY(!QFile::exists(path));
            window.findChild<QLineEdit *>(u"deviceNumberEdit"_s)->setText(u"0007"_s);
            window.close();
        }
        QCOMPARE(irlearn::IniFile(path).read(u"Setup"_s, u"TXsbID"_s, QString()), u"0007"_s);
        QCOMPARE(irlearn::IniFile(path).read(u"Setup"_s, u"TXPort"_s, u"?"_s), QString());

        // The program itself: --version and --help need no display, they are answered before the
        // GUI starts; a refused command line ends with its status.
        QProcessEnvironment headless = QProcessEnvironment::systemEnvironment();
        headless.remove(u"DISPLAY"_s);
        headless.remove(u"WAYLAND_DISPLAY"_s);
        headless.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        // out: a pattern for all of standard output.
        const auto run = [](const QProcessEnvironment &env, const char *args, int status,
                            const QString &out, const QString &err) {
            QProcess app;
            app.setProcessEnvironment(env);
            app.start(QStringLiteral(IRLEARN_APP_PATH), QString::fromLatin1(args).split(u' '));
            return app.waitForFinished(10000) && app.exitStatus() == QProcess::NormalExit &&
                   app.exitCode() == status &&
                   QRegularExpression(out)
                       .match(QString::fromUtf8(app.readAllStandardOutput()))
                       .hasMatch() &&
                   QString::fromUtf8(app.readAllStandardError()).contains(err);
        };
        QVERIFY(run(headless, "--version", 0,
                    u"^irlearn "_s +
                        QRegularExpression::escape(QStringLiteral(IRLEARN_VERSION "\n")) + u'$',
                    QString()));
        QVERIFY(run(headless, "--help", 0, u"^用法：irlearn"_s, QString()));
        QVERIFY(run(QProcessEnvironment::systemEnvironment(), "--device 12",
                    StartOptions::refusedStatus, u"^$"_s, u"设备号无效：12"_s));
    }

    // Every text the wait notice and the learning prompt show fits its label at each CJK font the
    // package depends on; both lie inside the window above the status strip, the notice clear of
    // the verify option, the prompt above and clear of every control of the panel in front, the
    // wizard's button clear of its neighbours.
    void textsFit()
    {
        QStringList shown, tooBig;
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
                for (const QWidget *c :
                     parent->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
                    if (c != skip && !c->isHidden() && inWindow(c).intersects(area))
                        names << c->objectName();
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
            QVERIFY(shown.contains(u"正在读取数据，请稍等...\n7/16  约剩%1秒"_s.arg(
                (9 * (engine.timings().pacingMs + 268) + 999) / 1000)));

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
        for (const QString &text : {u"请将遥控器对准黑色的接收头，按下需要学习指令的按钮... 15秒"_s,
                                    irlearn::messages::pressKey(u"30℃"_s) + u" 9秒"_s,
                                    irlearn::messages::learningEndsIn(15)})
            QVERIFY2(shown.contains(text), qPrintable(text));
    }

    // The whole session on disk: each line as it comes, time-stamped, in the day's file, older
    // files than 30 days removed at start; a session appending to the day's file reads back only
    // its own lines; a folder that cannot be written costs the file, not the lines. (The window's
    // own, under $XDG_STATE_HOME/irlearn: logMenu.)
    void sessionLog()
    {
        using irlearn::SessionLog;
        QTemporaryDir dir;
        const QDir folder(dir.filePath(u"irlearn"_s));
        QVERIFY(folder.mkpath(u"."_s));
        const QDate today = QDate::currentDate();
        const auto dayFile = [&folder](const QDate &day) {
            return folder.filePath(SessionLog::fileName(day));
        };
        for (const QString &name : {dayFile(today.addDays(-31)), dayFile(today.addDays(-30)),
                                    folder.filePath(u"notes.txt"_s)})
            QVERIFY(WindowHarness::writeFile(name, "old\n"));
        // Lines as written: each time-stamped once, in the order given.
        const auto stamped = [](const QByteArray &text, const QStringList &lines) {
            const QString stamp = u"\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "_s;
            const QString pattern = u'^' + stamp + lines.join(u'\n' + stamp) + u"\n$"_s;
            return QRegularExpression(pattern).match(QString::fromUtf8(text)).hasMatch();
        };
        {
            SessionLog log(folder.path());
            QCOMPARE(folder.entryList(QDir::Files),
                     (QStringList{SessionLog::fileName(today.addDays(-30)), u"notes.txt"_s}));
            QVERIFY(log.append(u"一\r\n二"_s));
            QVERIFY(log.append(u"三"_s));
            const QByteArray written = WindowHarness::readFile(dayFile(today));
            QVERIFY2(stamped(written, {u"一\n二"_s, u"三"_s}), written.constData());
            QCOMPARE(log.session(), written);
        }
        SessionLog again(folder.path());
        QVERIFY(again.append(u"四"_s));
        QVERIFY(stamped(again.session(), {u"四"_s}));
        SessionLog nowhere(folder.filePath(u"notes.txt/irlearn"_s));
        QVERIFY(!nowhere.append(u"五"_s) && !nowhere.problem().isEmpty() &&
                nowhere.session().isEmpty());
    }

    // Saving a code file over an existing one asks first, and "否" leaves the file as it was; the
    // file dialogs start in the folder used last, which the settings file keeps; Qt's own texts
    // (the buttons of its boxes and dialogs) are Chinese.
    void codeFileDialogs()
    {
        QVERIFY(irlearn::installQtTranslations());
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), u"取消"_s);

        const irlearn::codefile::Loaded file =
            irlearn::codefile::load(QStringLiteral(IRLEARN_TEST_DATA "/table16.bin"));
        QVERIFY(file.ok);
        irlearn::CodeTable table;
        irlearn::codefile::fill(table, file.lines);

        QTemporaryDir dir;
        const QString existing = dir.filePath(u"空调.bin"_s);
        QVERIFY(WindowHarness::writeFile(existing, "keep"));
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
        QTRY_COMPARE(h.messages(), QStringList{u"空调遥控指令保存完成！"_s});
        QCOMPARE(irlearn::codefile::load(existing).lines.mid(0, 16), file.lines.mid(0, 16));

        // The next dialog, in this run or the next, starts where the last one ended.
        h.answerNextFileDialog(QString());
        h.window().findChild<QAction *>(u"LogSave"_s)->trigger();
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
        auto *pane = h.child<QPlainTextEdit>("logView");
        // A bar of the style's own, to compare handles with: the pane's draws it from a picture.
        struct StyleBar : QScrollBar
        {
            using QScrollBar::initStyleOption;
            using QScrollBar::QScrollBar;
        } styleBar(Qt::Vertical, &w);
        styleBar.hide();
        const auto drawnAsNew = [&w, pane, bar, &styleBar] {
            const auto rgb = [](const QPixmap &p) {
                return p.toImage().convertToFormat(QImage::Format_RGB32);
            };
            styleBar.resize(bar->size());
            styleBar.setPalette(bar->palette());
            styleBar.setRange(bar->minimum(), bar->maximum());
            styleBar.setPageStep(bar->pageStep());
            styleBar.setValue(bar->value());
            QStyleOptionSlider option;
            styleBar.initStyleOption(&option);
            // The handle with its outline, short of where it meets an arrow (the bar draws the
            // arrows first, the style last) and of the groove's shading beside it.
            const auto part = [&](QStyle::SubControl control) {
                return styleBar.style()->subControlRect(QStyle::CC_ScrollBar, &option, control,
                                                        &styleBar);
            };
            const QRect handle = part(QStyle::SC_ScrollBarSlider).adjusted(0, -1, 0, 1) &
                                 part(QStyle::SC_ScrollBarGroove).adjusted(0, 2, 0, -2);
            const QPoint bottom(0, pane->viewport()->height() - 2);
            return pane->cursorForPosition(bottom).block() == pane->document()->lastBlock() &&
                   rgb(bar->grab(handle)) == rgb(styleBar.grab(handle)) &&
                   rgb(w.screen()->grabWindow(w.winId())) == rgb(w.grab());
        };
        // Short lines until the pane is about to scroll (then its handle shrinks a little with
        // each one), then records' long ones.
        const QString reply(514, u'7');
        for (int n = 1; n <= 48; ++n) {
            emit w.engine().logLine(n <= 40 ? u"读取第%1行"_s.arg(n) : reply);
            QCOMPARE(bar->value(), bar->maximum());
            if (n > 32)
                QVERIFY2(QTest::qWaitFor(drawnAsNew), qPrintable(QString::number(n)));
        }
        QVERIFY(bar->maximum() > bar->pageStep());
        // Each line added left the lines before it laid out as they were: the pane looks the
        // same laid out afresh.
        const QImage kept = pane->viewport()->grab().toImage();
        pane->document()->markContentsDirty(0, pane->document()->characterCount());
        QCOMPARE(pane->viewport()->grab().toImage(), kept);
        // The bar's groove and arrows are drawn once for its colours; new ones draw them anew.
        const auto arrow = [bar] {
            return bar->grab(QRect(0, 0, bar->width(), 12)).toImage();
        };
        const QImage before = arrow();
        QPalette red = bar->palette();
        red.setColor(QPalette::Button, Qt::red);
        bar->setPalette(red);
        QVERIFY(QTest::qWaitFor([&] { return arrow() != before && drawnAsNew(); }));
        QCOMPARE(h.logLines().size(), 48);
        QCOMPARE(h.logLines().constLast(), reply);
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
