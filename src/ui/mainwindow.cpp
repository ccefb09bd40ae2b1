#include "mainwindow.h"

#include "appearance.h"
#include "dialogs.h"
#include "learningwizard.h"
#include "librarydialog.h"
#include "logview.h"
#include "portselector.h"
#include "ui_mainwindow.h"

#include "base/regularfile.h"
#include "codefile/codefile.h"
#include "codefile/tablelibrary.h"
#include "engine/deviceengine.h"
#include "engine/messages.h"
#include "protocol/frames.h"
#include "serial/networkaddress.h"
#include "serial/pinnedports.h"
#include "serial/portchoice.h"
#include "serial/portinfo.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QUrl>

namespace irlearn {

namespace {

// Designed positions are in twips; the window is laid out at 15 twips a pixel.
constexpr int px(int twips)
{
    return (twips + 7) / 15;
}

const QString panelDevice = QStringLiteral("设备面板");
const QString panelCommands = QStringLiteral("指令表");
const QString connectText = QStringLiteral("连 接");
const QString disconnectText = QStringLiteral("断 开");
const QString optionOn = QStringLiteral("1");
const QString optionOff = QStringLiteral("0");
const QString labelsSection = QStringLiteral("Labels");
const QString addOnSaveKey = QStringLiteral("AddOnSave");
// The folder the file dialogs start in: the one used last.
const QString filesSection = QStringLiteral("Files");
const QString folderKey = QStringLiteral("Folder");
// The device's line, as the operators' tools have always written it.
const QString lineSettings = QStringLiteral("9600,n,8,1");

// Why a connect cannot even be tried with what the port selector holds.
QString connectRefusal(const QString &portText)
{
    if (portText.trimmed().isEmpty())
        return QStringLiteral("请选择通信端口");
    return QStringLiteral("端口无效：%1（应为 COM1 至 COM%2）")
        .arg(portText.trimmed())
        .arg(PortNames::maxPort);
}

// The selector entry's tooltip: what the system knows of the device behind the name, and the
// name it was pinned as when that is none of the system's.
QString portTip(const QString &device, const PortDetails &details)
{
    const QString summary = portSummary(details);
    if (device == details.path || device == details.byId)
        return summary;
    return device + QLatin1Char('\n') + summary;
}

} // namespace

MainWindow::MainWindow(Settings settings, Timings timings, QWidget *parent)
    : MainWindow(std::move(settings), nullptr, timings, parent)
{
}

MainWindow::MainWindow(Settings settings, DeviceLink *link, Timings timings, QWidget *parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::MainWindowForm>()),
      m_settings(std::move(settings)),
      m_engine(link ? new DeviceEngine(link, timings, this) : new DeviceEngine(timings, this))
{
    m_ui->setupUi(this);
    m_credit = m_ui->creditLabel->text();
    m_promptText = m_ui->learnPromptLabel->text();
    m_promptBase = m_promptText;
    setFont(appFont());
    setWindowIcon(appIcon());
    // Fixed size, no maximize button: the modern form of a window that snaps back.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(size());

    for (int i = 0; i < 10; ++i)
        m_keys[std::size_t(i)] = findChild<QPushButton *>(QStringLiteral("keyButton%1").arg(i));
    m_keyAllowed.fill(true);
    buildLabelFields();

    // Beside the learning toggle, wherever the form puts it.
    m_wizardButton =
        new QPushButton(QStringLiteral("学习向导"), m_ui->learningToggle->parentWidget());
    m_wizardButton->setObjectName(QStringLiteral("learningWizardButton"));
    const QRect toggle = m_ui->learningToggle->geometry();
    m_wizardButton->setGeometry(toggle.right() + 9, toggle.top(), 97, toggle.height());
    connect(m_wizardButton, &QPushButton::clicked, this, &MainWindow::openWizard);

    connectControls();
    connectEngine();
    loadState();

    // The desktop session may end without closing the window first.
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this, [this] { saveState(); });

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

MainWindow::~MainWindow() = default;

QString MainWindow::manualPath()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../share/doc/irlearn/README.md"));
}

void MainWindow::connectControls()
{
    connect(&m_log, &LogBuffer::appended, m_ui->logView, &LogView::appendLine);
    connect(&m_log, &LogBuffer::restarted, this,
            [this](const QString &line) { m_ui->logView->setPlainText(line); });
    connect(&m_log, &LogBuffer::cleared, m_ui->logView, &QPlainTextEdit::clear);
    buildLogMenu();

    connect(m_ui->connectButton, &QPushButton::clicked, this, &MainWindow::connectClicked);
    connect(m_ui->setDeviceNumberButton, &QPushButton::clicked, this,
            &MainWindow::deviceNumberClicked);
    connect(m_ui->learnCommandButton, &QPushButton::clicked, this,
            &MainWindow::learnCommandClicked);
    connect(m_ui->readTableButton, &QPushButton::clicked, this, &MainWindow::readTableClicked);
    connect(m_ui->downloadTableButton, &QPushButton::clicked, this, &MainWindow::downloadClicked);
    connect(m_ui->browseSaveFileButton, &QPushButton::clicked, this,
            &MainWindow::chooseSaveFileClicked);
    connect(m_ui->saveTableButton, &QPushButton::clicked, this, &MainWindow::saveTableClicked);
    connect(m_libraryButton, &QPushButton::clicked, this, &MainWindow::libraryClicked);
    connect(m_ui->cancelSaveButton, &QPushButton::clicked, m_ui->savePanel, &QWidget::hide);
    connect(m_ui->learningToggle, &QPushButton::clicked, this, &MainWindow::learningToggleClicked);
    m_ui->learningToggle->installEventFilter(this);
    for (int i = 0; i < 10; ++i) {
        connect(m_keys[std::size_t(i)], &QPushButton::clicked, this, [this, i] { keyClicked(i); });
        m_keys[std::size_t(i)]->installEventFilter(this);
    }
    connect(m_ui->panelSwitchButton, &QPushButton::clicked, this,
            [this] { showCommandTable(!m_commandTableShown); });
    connect(m_ui->portSelector, &PortSelector::aboutToShowPopup, this, &MainWindow::refreshPorts);
    connect(m_ui->portSelector, &QComboBox::editTextChanged, this, &MainWindow::updatePortTip);
    connect(m_ui->verifyAfterDownloadBox, &QCheckBox::toggled, this, [this](bool checked) {
        m_settings.writeValue(Settings::downloadSection, Settings::verifyKey,
                              checked ? optionOn : optionOff);
    });
    m_ui->linkLabel->installEventFilter(this);
    m_ui->linkLabel->setVisible(QFileInfo(manualPath()).isFile());
    m_ui->linkLabel->setToolTip(QDir::toNativeSeparators(manualPath()));
}

void MainWindow::connectEngine()
{
    DeviceEngine *e = m_engine;
    connect(e, &DeviceEngine::logLine, this, &MainWindow::logLine);
    connect(e, &DeviceEngine::message, this, [this](const QString &text) {
        // The wizard says each key's result itself.
        if (text == messages::learnt && wizardRunning()) {
            m_engine->messageClosed();
            return;
        }
        dialogs::information(this, text, [engine = QPointer<DeviceEngine>(m_engine)] {
            if (engine)
                engine->messageClosed();
        });
    });
    connect(e, &DeviceEngine::busyChanged, this, &MainWindow::updateControls);
    connect(e, &DeviceEngine::connectionLost, this, &MainWindow::disconnected);
    connect(e, &DeviceEngine::opened, this, &MainWindow::portOpened);
    connect(e, &DeviceEngine::openFailed, this, &MainWindow::portOpenFailed);
    connect(e, &DeviceEngine::noticeShown, this, [this](const QString &caption) {
        m_noticeCaption = caption;
        m_ui->waitNoticeLabel->setText(caption);
        m_ui->waitNotice->show();
    });
    connect(e, &DeviceEngine::progress, this, &MainWindow::showProgress);
    connect(e, &DeviceEngine::learningCountdown, this, [this](int secondsLeft) {
        m_ui->learnPromptLabel->setText(m_promptBase + QStringLiteral(" %1秒").arg(secondsLeft));
    });
    connect(e, &DeviceEngine::noticeHidden, m_ui->waitNotice, &QWidget::hide);
    // A key's learning names the key to press; a numbered command's keeps the designed text.
    connect(e, &DeviceEngine::keyPrompt, this,
            [this](int key) { m_keyPrompt = messages::pressKey(frames::keyNames().at(key)); });
    connect(e, &DeviceEngine::learnPromptChanged, this, [this](bool visible) {
        m_promptBase = visible && !m_keyPrompt.isEmpty() ? m_keyPrompt : m_promptText;
        m_keyPrompt.clear();
        m_ui->learnPromptLabel->setText(m_promptBase);
        m_ui->learnPrompt->setVisible(visible);
    });
    // Learnt: the prompt frame says when learning mode goes off, so the wait is not silent.
    connect(e, &DeviceEngine::learningEndsIn, this, [this](int secondsLeft) {
        m_ui->learnPromptLabel->setText(secondsLeft > 0 ? messages::learningEndsIn(secondsLeft)
                                                        : m_promptText);
        m_ui->learnPrompt->setVisible(secondsLeft > 0);
    });
    connect(e, &DeviceEngine::learningModeConfirmed, this, [this](bool on) {
        m_ui->learningToggle->setText(on ? QStringLiteral("结束指令学习")
                                         : QStringLiteral("开始学习指令"));
        // The wizard switches learning mode itself: the toggle follows the device.
        if (wizardRunning())
            m_ui->learningToggle->setChecked(on);
    });
    connect(e, &DeviceEngine::keyLearnt, this, &MainWindow::keysAtRest);
    connect(e, &DeviceEngine::tableRead, this, &MainWindow::openSavePanel);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
        // A press on the toggle or a key marks the click that follows as the operator's own; a
        // double-click's second press comes as a double-click event. A disabled control gets no
        // click, so its press must not count either.
        auto *widget = qobject_cast<QWidget *>(watched);
        const bool control = watched == m_ui->learningToggle ||
                             std::find(m_keys.begin(), m_keys.end(), watched) != m_keys.end();
        if (control && widget && widget->isEnabled())
            m_userClick = true;
    } else if (type == QEvent::MouseButtonRelease && watched == m_ui->linkLabel) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(manualPath()));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::loadState()
{
    // Both options are off unless the file says 1: the designed exchange and log stay as they are.
    const auto option = [this](const QString &section, const QString &key) {
        return m_settings.readValue(section, key, optionOff).trimmed() == optionOn;
    };
    {
        const QSignalBlocker quiet(m_ui->verifyAfterDownloadBox);
        m_ui->verifyAfterDownloadBox->setChecked(
            option(Settings::downloadSection, Settings::verifyKey));
        const QSignalBlocker quietToo(m_timeStamps);
        m_timeStamps->setChecked(option(Settings::logSection, Settings::timeStampsKey));
        m_log.setTimeStamped(m_timeStamps->isChecked());
    }
    m_log.clear();
    // A settings file that was left alone (too large, not a regular file) is not silently lost.
    if (!m_settings.problem().isEmpty())
        logLine(m_settings.problem());
    m_ui->learnPrompt->hide();
    m_ui->commandNoteEdit->clear();
    m_ui->savePanel->hide();
    m_ui->waitNotice->hide();
    m_ui->waitNotice->move(px(960), px(2880));
    {
        // Black from the palette, not a style sheet: filled that way the notice counts as opaque,
        // and each new count on it repaints the notice alone, not the panel and buttons it covers.
        QPalette black = m_ui->waitNotice->palette();
        black.setColor(QPalette::Window, Qt::black);
        m_ui->waitNotice->setPalette(black);
    }
    m_ui->addCommandButton->setEnabled(false);
    updateControls();
    refreshPorts();
    m_ui->portSelector->setEditText(
        m_settings.readValue(Settings::setupSection, Settings::portKey, QString()).trimmed());
    m_ui->deviceNumberEdit->setText(
        m_settings.readValue(Settings::setupSection, Settings::deviceKey, QString()).trimmed());
    fillCommandNumbers();
    m_ui->commandNameEdit->clear();
    m_brandEdit->setText(m_settings.readValue(labelsSection, QStringLiteral("Brand"), QString()));
    m_modelEdit->setText(m_settings.readValue(labelsSection, QStringLiteral("Model"), QString()));
    m_remoteEdit->setText(m_settings.readValue(labelsSection, QStringLiteral("Remote"), QString()));
    m_notesEdit->setText(m_settings.readValue(labelsSection, QStringLiteral("Notes"), QString()));
    m_addToLibraryBox->setChecked(option(TableLibrary::section, addOnSaveKey));
    showCommandTable(false);
    updatePortTip();
}

void MainWindow::startWith(const QString &port, const QString &device)
{
    if (!port.isEmpty()) {
        m_startPort = port;
        m_ui->portSelector->setEditText(port);
        updatePortTip();
    }
    if (!device.isEmpty()) {
        m_startDevice = device;
        m_ui->deviceNumberEdit->setText(device);
    }
}

void MainWindow::saveState()
{
    const QString port = m_ui->portSelector->currentText();
    if (m_startPort.isEmpty() || port != m_startPort)
        m_settings.writeValue(Settings::setupSection, Settings::portKey, port);
    const QString device = m_ui->deviceNumberEdit->text();
    if (m_startDevice.isEmpty() || device != m_startDevice)
        m_settings.writeValue(Settings::setupSection, Settings::deviceKey, device);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    saveState();
    event->accept();
}

void MainWindow::fillCommandNumbers()
{
    QComboBox *combo = m_ui->commandNumberBox;
    combo->setEditText(QString());
    for (int n = 1; n <= frames::maxCommand; ++n)
        combo->addItem(QString::number(n));
    combo->setEditText(combo->itemText(0));
}

// The ports free to open now, under the names the settings and the system give them. Nothing is
// opened to find out: opening a port raises its control lines, which resets many boards and
// disturbs whatever else is on the line. What the system tells is enough; a port that still
// refuses on connect says why then.
void MainWindow::refreshPorts()
{
    m_ports = PortNames::current(pinnedPorts(m_settings));
    QComboBox *combo = m_ui->portSelector;
    const QString text = combo->currentText();
    combo->clear();
    const QList<NamedPort> ports = namedPorts(m_ports, systemPorts());
    for (const NamedPort &port : ports) {
        // A port server is listed untried: a trial connection would take the port from whoever
        // uses it now.
        const bool network = port.details.state == PortState::Network;
        if (port.details.state != PortState::Free && !network)
            continue;
        const QString device = m_ports.deviceFor(port.number);
        combo->addItem(comName(port.number));
        combo->setItemData(combo->count() - 1, network ? device : portTip(device, port.details),
                           Qt::ToolTipRole);
    }
    combo->setEditText(text);
    updatePortTip();
}

void MainWindow::updatePortTip()
{
    m_ui->portSelector->setToolTip(
        m_ports.deviceFor(PortNames::numberIn(m_ui->portSelector->currentText())));
}

// The log pane's own menu, in the operator's language; the actions are named so that tests and
// the screenshot tool find them.
void MainWindow::buildLogMenu()
{
    QPlainTextEdit *pane = m_ui->logView;
    m_logMenu = new QMenu(this);
    m_logMenu->setObjectName(QStringLiteral("LogMenu"));
    QAction *copy = m_logMenu->addAction(QStringLiteral("复制"), pane, &QPlainTextEdit::copy);
    copy->setObjectName(QStringLiteral("LogCopy"));
    copy->setEnabled(false);
    connect(pane, &QPlainTextEdit::copyAvailable, copy, &QAction::setEnabled);
    m_logMenu->addAction(QStringLiteral("全选"), pane, &QPlainTextEdit::selectAll)
        ->setObjectName(QStringLiteral("LogSelectAll"));
    m_logMenu->addSeparator();
    m_logMenu->addAction(QStringLiteral("另存为…"), this, &MainWindow::saveLogClicked)
        ->setObjectName(QStringLiteral("LogSave"));
    m_logMenu->addAction(QStringLiteral("清空"), &m_log, &LogBuffer::clear)
        ->setObjectName(QStringLiteral("LogClear"));
    m_logMenu->addAction(QStringLiteral("打开日志文件夹"), this, &MainWindow::openLogFolderClicked)
        ->setObjectName(QStringLiteral("LogOpenFolder"));
    m_logMenu->addSeparator();
    m_timeStamps = m_logMenu->addAction(QStringLiteral("时间戳"));
    m_timeStamps->setObjectName(QStringLiteral("LogTimeStamps"));
    m_timeStamps->setCheckable(true);
    connect(m_timeStamps, &QAction::toggled, this, [this](bool checked) {
        m_log.setTimeStamped(checked);
        m_settings.writeValue(Settings::logSection, Settings::timeStampsKey,
                              checked ? optionOn : optionOff);
    });
    pane->setContextMenuPolicy(Qt::CustomContextMenu);
    // A scroll area reports the position in its viewport's coordinates.
    connect(pane, &QWidget::customContextMenuRequested, this, [this, pane](const QPoint &pos) {
        m_logMenu->popup(pane->viewport()->mapToGlobal(pos));
    });
}

void MainWindow::logLine(const QString &line)
{
    m_log.append(line);
    // A session log that cannot be written is told once, in the pane only.
    if (!m_session.append(line) && !m_sessionProblemTold) {
        m_sessionProblemTold = true;
        m_log.append(m_session.problem());
    }
}

// The whole session, from the session log: the pane keeps only its last lines. Where the session
// log could not be written, what the pane holds is the best there is.
void MainWindow::saveLogClicked()
{
    const QString path =
        dialogs::saveLogFile(this, QStringLiteral("保存日志"), lastFolder()).trimmed();
    if (path.isEmpty())
        return;
    rememberFolder(path);
    QString text = m_sessionProblemTold ? m_log.text() : QString::fromUtf8(m_session.session());
    // Every line ends with CR LF, also where a message of several lines went into one entry, so
    // the file reads the same in any editor.
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QString error;
    if (!writeFile(path, text.toUtf8(), &error))
        showMessage(
            QStringLiteral("日志未保存：%1\n%2").arg(QDir::toNativeSeparators(path), error));
}

void MainWindow::openLogFolderClicked()
{
    const QString folder = m_session.folder();
    QDir().mkpath(folder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void MainWindow::showCommandTable(bool show)
{
    m_commandTableShown = show;
    if (show)
        m_ui->commandTablePanel->raise();
    else
        m_ui->devicePanel->raise();
    m_ui->panelSwitchButton->setText(show ? panelDevice : panelCommands);
    placeLearnPrompt();
}

// The learning prompt belongs to the window, above both panels, in a place where it hides no
// control of the panel in front: below the transfers on the device panel, over the foot of the
// (display only) grid on the command table, whose fields and buttons fill the rows beneath.
void MainWindow::placeLearnPrompt()
{
    static constexpr QPoint onDevicePanel(12, 400);
    static constexpr QPoint onCommandTable(12, 372);
    m_ui->learnPrompt->move(m_commandTableShown ? onCommandTable : onDevicePanel);
    m_ui->learnPrompt->raise();
}

void MainWindow::updateControls()
{
    const bool ready = m_connected && !m_engine->isBusy() && !wizardRunning();
    m_ui->learningToggle->setEnabled(ready);
    m_wizardButton->setEnabled(ready);
    m_ui->setDeviceNumberButton->setEnabled(ready);
    for (int i = 0; i < 10; ++i)
        m_keys[std::size_t(i)]->setEnabled(ready && m_keyAllowed[std::size_t(i)]);
    m_ui->commandTablePanel->setEnabled(ready);
    m_ui->readTableButton->setEnabled(ready);
    m_ui->downloadTableButton->setEnabled(ready);
    m_libraryButton->setEnabled(ready);
    // The panel switch stays usable: a table just read must stay reachable for saving after a
    // disconnect.
    m_ui->panelSwitchButton->setEnabled(true);
}

void MainWindow::showMessage(const QString &text)
{
    dialogs::information(this, text);
}

// The wait notice keeps its caption and adds how far the transfer got and about how long the
// rest takes.
void MainWindow::showProgress(int done, int total)
{
    if (m_noticeCaption.isEmpty())
        return;
    const int perRecordMs = m_engine->timings().perRecordMs(recordBytes);
    const int secondsLeft = ((total - done) * perRecordMs + 999) / 1000;
    m_ui->waitNoticeLabel->setText(QStringLiteral("%1\n%2/%3  约剩%4秒")
                                       .arg(m_noticeCaption)
                                       .arg(done)
                                       .arg(total)
                                       .arg(secondsLeft));
}

void MainWindow::connectClicked()
{
    // The port being opened is not opened twice.
    if (m_engine->isOpening())
        return;
    if (m_ui->connectButton->text() != connectText) {
        m_engine->close();
        disconnected();
        return;
    }
    const QString portText = m_ui->portSelector->currentText();
    const int port = PortNames::numberIn(portText);
    if (port <= 0) {
        showConnectFailure(connectRefusal(portText));
        return;
    }
    // The system's devices may have changed since the list was made.
    m_ports = PortNames::current(pinnedPorts(m_settings));
    const QString device = m_ports.deviceFor(port);
    if (device.isEmpty()) {
        showConnectFailure(QStringLiteral("端口不存在：%1").arg(portText.trimmed()));
        return;
    }
    m_openingName = comName(port);
    m_openingDevice = device;
    // A port server may take a few seconds to answer; the window stays live meanwhile.
    m_ui->connectButton->setEnabled(false);
    m_ui->portSelector->setEnabled(false);
    m_engine->open(device);
}

void MainWindow::portOpened()
{
    logLine(QStringLiteral("已连接 %1：%2，%3")
                .arg(m_openingName, QDir::toNativeSeparators(m_openingDevice), lineSettings));
    m_ui->creditLabel->setText(m_credit);
    m_ui->creditLabel->setToolTip(QString());
    m_connected = true;
    m_keyAllowed.fill(true);
    m_ui->connectButton->setText(disconnectText);
    m_ui->connectButton->setEnabled(true);
    updateControls();
}

void MainWindow::portOpenFailed(const OpenFailure &failure)
{
    m_ui->connectButton->setEnabled(true);
    m_ui->portSelector->setEnabled(true);
    showConnectFailure(failure.message);
}

// The designed silent state stays; the operator still learns why, in the log and, as far as it
// fits, in the status strip (whole in its tooltip).
void MainWindow::showConnectFailure(const QString &why)
{
    logLine(why);
    const QFontMetrics metrics(m_ui->creditLabel->font());
    m_ui->creditLabel->setText(metrics.elidedText(why, Qt::ElideRight, m_ui->creditLabel->width()));
    m_ui->creditLabel->setToolTip(why);
}

void MainWindow::disconnected()
{
    m_connected = false;
    m_keyAllowed.fill(true);
    m_ui->connectButton->setText(connectText);
    m_ui->portSelector->setEnabled(true);
    updateControls();
}

void MainWindow::learningToggleClicked()
{
    // Without the operator's mouse the toggle's value changes, but nothing is sent.
    if (!m_userClick)
        return;
    m_userClick = false;
    const bool on = m_ui->learningToggle->isChecked();
    if (!m_engine->switchLearningMode(m_ui->deviceNumberEdit->text().trimmed(), on))
        m_ui->learningToggle->setChecked(!on);
}

void MainWindow::keyClicked(int index)
{
    QPushButton *key = m_keys[std::size_t(index)];
    const QString device = m_ui->deviceNumberEdit->text().trimmed();
    if (m_ui->learningToggle->isChecked()) {
        // Learning mode: a key pressed in teaches the device its command; released, nothing.
        if (!key->isChecked())
            return;
        if (!m_engine->learnKey(device, index)) {
            key->setChecked(false);
            return;
        }
        for (int i = 0; i < 10; ++i)
            m_keyAllowed[std::size_t(i)] = i == index;
        updateControls();
        return;
    }
    if (m_userClick) {
        m_userClick = false;
        m_engine->sendKey(device, index);
    }
    // Outside learning mode a key is a push button: it pops back out.
    key->setChecked(false);
}

void MainWindow::openWizard()
{
    if (m_wizard && !m_wizard->hasEnded()) {
        m_wizard->raise();
        m_wizard->activateWindow();
        return;
    }
    // A pass that has ended gives way to a new one.
    if (m_wizard)
        m_wizard->close();
    m_wizard = new LearningWizard(
        *m_engine,
        [this] {
            TeachPlan target;
            target.device = m_ui->deviceNumberEdit->text().trimmed();
            target.learningModeOn = m_ui->learningToggle->isChecked();
            return target;
        },
        this);
    connect(m_wizard, &LearningWizard::runningChanged, this, &MainWindow::updateControls);
    connect(m_wizard, &QObject::destroyed, this, &MainWindow::updateControls, Qt::QueuedConnection);
    connect(m_wizard, &LearningWizard::summary, this, [this](const QStringList &lines) {
        logLine(QStringLiteral("学习向导："));
        for (const QString &line : lines)
            logLine(line);
        // The device's table now holds what the pass taught it: the next save labels it so.
        setTableStatuses(m_wizard->session()->keyStatuses(),
                         m_wizard->session()->commandStatuses());
    });
    m_wizard->show();
    updateControls();
}

bool MainWindow::wizardRunning() const
{
    return m_wizard && m_wizard->isRunning();
}

void MainWindow::keysAtRest()
{
    for (QPushButton *key : m_keys)
        key->setChecked(false);
    m_keyAllowed.fill(true);
    updateControls();
}

void MainWindow::learnCommandClicked()
{
    const int number = frames::commandNumber(m_ui->commandNumberBox->currentText());
    if (number == 0) {
        showMessage(messages::commandNumber);
        return;
    }
    if (m_ui->commandNameEdit->text().trimmed().isEmpty()) {
        showMessage(messages::commandName);
        return;
    }
    m_engine->learnCommand(m_ui->deviceNumberEdit->text().trimmed(), number);
}

void MainWindow::deviceNumberClicked()
{
    m_engine->setDeviceNumber(m_ui->deviceNumberEdit->text().trimmed());
}

void MainWindow::readTableClicked()
{
    m_readDevice = m_ui->deviceNumberEdit->text().trimmed();
    m_engine->readTable(m_ui->deviceNumberEdit->text());
}

QString MainWindow::lastFolder() const
{
    const QString folder = m_settings.readValue(filesSection, folderKey, QString()).trimmed();
    return QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

void MainWindow::rememberFolder(const QString &chosenPath)
{
    const QString folder = QFileInfo(chosenPath).absolutePath();
    if (folder != m_settings.readValue(filesSection, folderKey, QString()))
        m_settings.writeValue(filesSection, folderKey, folder);
}

// A table read is worth keeping, and so is the file it would replace: the operator says which.
bool MainWindow::mayReplace(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return true;
    return dialogs::question(
        this, QStringLiteral("文件 %1 已存在，要替换它吗？").arg(QDir::toNativeSeparators(path)));
}

void MainWindow::openSavePanel(const CodeTable &table)
{
    for (int i = 0; i < tableRecords; ++i)
        m_table[std::size_t(i)] = table[std::size_t(i)];
    m_ui->saveTableButton->setEnabled(false);
    m_ui->savePanel->move(px(960), px(3360));
    m_ui->savePanel->show();
    m_ui->saveFileEdit->clear();
}

void MainWindow::downloadClicked()
{
    const QString path =
        dialogs::openCodeFile(this, QStringLiteral("选择红外指令文件"), lastFolder()).trimmed();
    if (path.isEmpty())
        return;
    rememberFolder(path);
    downloadFile(path);
}

void MainWindow::libraryClicked()
{
    LibraryDialog dialog(TableLibrary(TableLibrary::folderIn(m_settings)), this);
    if (dialogs::exec(dialog) != QDialog::Accepted)
        return;
    const QString path = dialog.chosenPath();
    if (!path.isEmpty())
        downloadFile(path);
}

void MainWindow::downloadFile(const QString &path)
{
    // Only a whole, valid table goes to the device: a short file would send records left over
    // from an earlier table, and junk would be sent as zero bytes.
    const labels::Labelled file = labels::load(path, codefile::notForDownload);
    if (!file.file.ok) {
        showMessage(file.file.message);
        return;
    }
    const labels::Check &check = file.labels;
    // Labels are a help, never a condition: a damaged label file is told and the table still
    // goes; a table changed since it was labelled goes only when the operator says so.
    if (check.state == labels::Check::Damaged) {
        logLine(QStringLiteral("标签文件无效，已忽略：%1（%2）")
                    .arg(QDir::toNativeSeparators(labels::pathFor(path)), check.reason));
    } else if (check.state != labels::Check::None) {
        const QString summary = labels::summary(check.labels);
        if (!summary.isEmpty())
            logLine(QStringLiteral("标签：") + summary);
    }
    if (check.state == labels::Check::Mismatch) {
        QStringList numbers;
        for (int r : check.changedRecords)
            numbers << QString::number(r);
        const QString what =
            numbers.isEmpty()
                ? QStringLiteral("16条记录未变，但文件内容与标签不符")
                : QStringLiteral("第%1条记录与标签不符").arg(numbers.join(QStringLiteral("、")));
        const QString text =
            QStringLiteral("红外指令文件在加标签后已被改动：%1\n%2。\n仍要下载吗？")
                .arg(QDir::toNativeSeparators(path), what);
        logLine(QStringLiteral("红外指令文件在加标签后已被改动：%1。").arg(what));
        if (!dialogs::question(this, text)) {
            logLine(QStringLiteral("未下载。"));
            return;
        }
    }
    codefile::fill(m_table, file.file.lines);
    // Verified, the engine reads the table back and says which records differ, if any.
    m_engine->downloadTable(m_ui->deviceNumberEdit->text(), m_table,
                            m_ui->verifyAfterDownloadBox->isChecked());
}

void MainWindow::chooseSaveFileClicked()
{
    const QString path =
        dialogs::saveCodeFile(this, QStringLiteral("生成红外指令文件"), lastFolder());
    if (path.isEmpty())
        return;
    rememberFolder(path);
    m_ui->saveFileEdit->setText(QDir::toNativeSeparators(path));
    m_ui->saveTableButton->setEnabled(true);
}

void MainWindow::saveTableClicked()
{
    const QString path = m_ui->saveFileEdit->text().trimmed();
    if (!mayReplace(path))
        return;
    // A failed save leaves any existing file as it was, says so, and keeps the panel open so
    // the operator can choose another place. The labels follow only a table that was written.
    const labels::Saved saved = labels::save(path, m_table, labelsFromPanel());
    if (!saved.tableWritten) {
        showMessage(QStringLiteral("红外指令文件未保存：%1\n%2")
                        .arg(QDir::toNativeSeparators(path), saved.error));
        return;
    }
    if (!saved.labelsWritten)
        logLine(QStringLiteral("标签文件未保存：%1（%2）")
                    .arg(QDir::toNativeSeparators(labels::pathFor(path)), saved.error));
    m_settings.writeValue(labelsSection, QStringLiteral("Brand"), m_brandEdit->text());
    m_settings.writeValue(labelsSection, QStringLiteral("Model"), m_modelEdit->text());
    m_settings.writeValue(labelsSection, QStringLiteral("Remote"), m_remoteEdit->text());
    m_settings.writeValue(labelsSection, QStringLiteral("Notes"), m_notesEdit->text());
    m_settings.writeValue(TableLibrary::section, addOnSaveKey,
                          m_addToLibraryBox->isChecked() ? optionOn : optionOff);
    if (m_addToLibraryBox->isChecked() && saved.labelsWritten) {
        const TableLibrary library(TableLibrary::folderIn(m_settings));
        const QFileInfo file(path);
        // Saved into the library itself: it is an entry already, not one to copy.
        if (file.canonicalPath() == QFileInfo(library.folder()).canonicalFilePath()) {
            logLine(QStringLiteral("已存入码库：%1").arg(file.completeBaseName()));
        } else {
            const TableLibrary::Added added = library.add(path);
            logLine(added.ok ? QStringLiteral("已存入码库：%1").arg(added.entry.id)
                             : QStringLiteral("未存入码库：%1").arg(added.error));
        }
    }
    showMessage(messages::saved);
    m_ui->savePanel->hide();
}

void MainWindow::setTableStatuses(const QMap<QString, KeyStatus> &keys,
                                  const QMap<int, KeyStatus> &commands)
{
    m_keyStatuses = keys;
    m_commandStatuses = commands;
}

TableLabels MainWindow::labelsFromPanel() const
{
    TableLabels labels;
    labels.brand = m_brandEdit->text().trimmed();
    labels.model = m_modelEdit->text().trimmed();
    labels.remote = m_remoteEdit->text().trimmed();
    labels.notes = m_notesEdit->text().trimmed();
    labels.device = m_readDevice;
    labels.keys = m_keyStatuses;
    labels.commands = m_commandStatuses;
    labels.saved = labels::now();
    return labels;
}

// The labels' fields go under the save panel's own controls, and the library's button beside the
// download button; both are placed from where the form puts their neighbours.
void MainWindow::buildLabelFields()
{
    QWidget *panel = m_ui->savePanel;
    const int top = panel->height();
    const auto field = [panel](const QString &name, const QString &caption, QRect labelBox,
                               QRect editBox) {
        auto *label = new QLabel(caption, panel);
        label->setGeometry(labelBox);
        auto *edit = new QLineEdit(panel);
        edit->setObjectName(name);
        edit->setGeometry(editBox);
        // The settings file keeps at most 254 bytes a value: 80 characters fit in any script.
        edit->setMaxLength(80);
        label->setBuddy(edit);
        return edit;
    };
    m_brandEdit = field(QStringLiteral("labelBrandEdit"), QStringLiteral("品牌："),
                        {16, top, 84, 21}, {100, top, 108, 21});
    m_modelEdit = field(QStringLiteral("labelModelEdit"), QStringLiteral("型号："),
                        {216, top, 40, 21}, {256, top, 161, 21});
    m_remoteEdit = field(QStringLiteral("labelRemoteEdit"), QStringLiteral("遥控器型号："),
                         {16, top + 26, 84, 21}, {100, top + 26, 108, 21});
    m_notesEdit = field(QStringLiteral("labelNotesEdit"), QStringLiteral("备注："),
                        {216, top + 26, 40, 21}, {256, top + 26, 161, 21});
    m_addToLibraryBox = new QCheckBox(QStringLiteral("同时存入码库"), panel);
    m_addToLibraryBox->setObjectName(QStringLiteral("addToLibraryBox"));
    m_addToLibraryBox->setGeometry(16, top + 52, 200, 20);
    panel->resize(panel->width(), top + 80);

    const QRect download = m_ui->downloadTableButton->geometry();
    m_libraryButton =
        new QPushButton(QStringLiteral("码库…"), m_ui->downloadTableButton->parentWidget());
    m_libraryButton->setObjectName(QStringLiteral("libraryButton"));
    m_libraryButton->setToolTip(QStringLiteral("从码库选择红外码表下载"));
    m_libraryButton->setGeometry(download.right() + 4, download.top(), 60, download.height());
    // Whatever covers the download button (the save panel, the wait notice) covers this too.
    m_libraryButton->stackUnder(m_ui->downloadTableButton);
}

} // namespace irlearn
