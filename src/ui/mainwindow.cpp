#include "mainwindow.h"

#include "appearance.h"
#include "dialogs.h"
#include "ui_mainwindow.h"

#include "base/numtext.h"
#include "workflows/session.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTableWidgetItem>
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

} // namespace

MainWindow::MainWindow(Settings settings, QWidget *parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::frm_Main>()), m_settings(std::move(settings)),
      m_ports(PortNames::fromSettings(m_settings))
{
    m_ui->setupUi(this);
    setFont(appFont());
    setWindowIcon(appIcon());
    // Fixed size, no maximize button: the modern form of a window that snaps back.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(size());

    for (int i = 0; i < 10; ++i)
        m_keys[std::size_t(i)] = findChild<QPushButton *>(QStringLiteral("Check_%1").arg(i));

    m_session = std::make_unique<Session>(
        *this, [ports = m_ports](int port) { return ports.deviceFor(port); });
    connectControls();

    // Form_Load
    m_session->state.userClick = true;
    Load_all();

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

MainWindow::~MainWindow() = default;

void MainWindow::connectControls()
{
    Session &s = *m_session;
    LogPane *log = &s.log;
    connect(log, &LogPane::appended, this, [this](const QString &line) {
        m_ui->Text2->appendPlainText(line);
        m_ui->Text2->moveCursor(QTextCursor::End);
    });
    connect(log, &LogPane::restarted, this,
            [this](const QString &line) { m_ui->Text2->setPlainText(line); });
    connect(log, &LogPane::cleared, m_ui->Text2, &QPlainTextEdit::clear);

    connect(m_ui->Command1, &QPushButton::clicked, this, [&s] { s.connection.Command1_Click(); });
    connect(m_ui->Command2, &QPushButton::clicked, this, [&s] { s.numbered.Command2_Click(); });
    connect(m_ui->Command3, &QPushButton::clicked, this, [&s] { s.numbered.Command3_Click(); });
    connect(m_ui->Command5, &QPushButton::clicked, this, [&s] { s.read.Command5_Click(); });
    connect(m_ui->Command6, &QPushButton::clicked, this, [&s] { s.download.Command6_Click(); });
    connect(m_ui->Command7, &QPushButton::clicked, this, [&s] { s.save.Command7_Click(); });
    connect(m_ui->Command8, &QPushButton::clicked, this, [&s] { s.save.Command8_Click(); });
    connect(m_ui->Command9, &QPushButton::clicked, this, [&s] { s.save.Command9_Click(); });
    connect(m_ui->Check1, &QPushButton::clicked, this, [&s] { s.keys.Check1_Click(); });
    m_ui->Check1->installEventFilter(this);
    for (int i = 0; i < 10; ++i) {
        connect(m_keys[std::size_t(i)], &QPushButton::clicked, this,
                [&s, i] { s.keys.Check_Click(i); });
        m_keys[std::size_t(i)]->installEventFilter(this);
    }
    connect(m_ui->CommandPanel, &QPushButton::clicked, this,
            [this] { showCommandTable(!m_commandTableShown); });
    connect(m_ui->Combo1, &QComboBox::editTextChanged, this, &MainWindow::updatePortTip);
    m_ui->Label5->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        // A mouse press marks the click that follows as the operator's own.
        if (watched == m_ui->Check1) {
            m_session->keys.Check1_MouseDown();
        } else {
            for (int i = 0; i < 10; ++i) {
                if (watched == m_keys[std::size_t(i)])
                    m_session->keys.Check_MouseDown(i);
            }
        }
    } else if (event->type() == QEvent::MouseButtonRelease && watched == m_ui->Label5) {
        QDesktopServices::openUrl(QUrl(projectUrl));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::Load_all()
{
    m_session->log.clear();
    m_ui->Picture1->hide();
    m_ui->Text2->setReadOnly(true);
    m_ui->Text4->clear();
    m_ui->Frame4->hide();
    m_ui->Picture2->hide();
    m_ui->Picture2->move(px(960), px(2880));
    m_ui->Command4->setEnabled(false);
    SetCommand(false);
    m_ui->Combo1->clear();
    m_ui->Combo1->addItems(m_session->connection.list_AllCom());
    m_ui->Combo1->setEditText(
        m_settings.Ini_Read(Settings::setupSection, Settings::portKey, QString()).trimmed());
    m_ui->Text1->setText(
        m_settings.Ini_Read(Settings::setupSection, Settings::deviceKey, QString()).trimmed());
    Load_hwNumber();
    m_ui->Text3->clear();
    showCommandTable(false);
    updatePortTip();
}

void MainWindow::Load_hwNumber()
{
    QComboBox *combo = m_ui->Combo2;
    combo->setEditText(QString());
    // Numbers already in the command table are not offered; the table's first row is the only
    // one consulted.
    const QTableWidgetItem *first = m_ui->Grid1->verticalHeaderItem(0);
    const double taken = m_ui->Grid1->rowCount() > 0 && first ? textValue(first->text()) : 0;
    for (int n = 1; n <= NumberedLearning::maxCommand; ++n) {
        if (taken != n)
            combo->addItem(QString::number(n));
    }
    combo->setEditText(combo->itemText(0));
}

void MainWindow::Form_QueryUnload()
{
    m_settings.Ini_Write(Settings::setupSection, Settings::portKey, m_ui->Combo1->currentText());
    m_settings.Ini_Write(Settings::setupSection, Settings::deviceKey, m_ui->Text1->text());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    Form_QueryUnload();
    event->accept();
}

void MainWindow::showCommandTable(bool show)
{
    m_commandTableShown = show;
    if (show)
        m_ui->Frame3->raise();
    else
        m_ui->Frame2->raise();
    m_ui->CommandPanel->setText(show ? panelDevice : panelCommands);
}

void MainWindow::updatePortTip()
{
    const QString device = m_ports.deviceFor(Connection::portNumber(m_ui->Combo1->currentText()));
    m_ui->Combo1->setToolTip(device);
}

bool MainWindow::keyValue(int index) const
{
    return m_keys[std::size_t(index)]->isChecked();
}

void MainWindow::setKeyValue(int index, bool pressed)
{
    QPushButton *key = m_keys[std::size_t(index)];
    if (key->isChecked() == pressed)
        return;
    key->setChecked(pressed);
    m_session->keys.Check_Click(index);
}

void MainWindow::setKeyEnabled(int index, bool enabled)
{
    m_keys[std::size_t(index)]->setEnabled(enabled);
}

void MainWindow::showMessage(const QString &text)
{
    dialogs::information(this, text);
}

void MainWindow::setLearnPromptVisible(bool visible)
{
    m_ui->Picture1->setVisible(visible);
}

void MainWindow::hideWaitNotice()
{
    m_ui->Picture2->hide();
}

void MainWindow::openSavePanel()
{
    m_ui->Command8->setEnabled(false);
    m_ui->Frame4->move(px(960), px(3360));
    m_ui->Frame4->show();
    m_ui->Text5->clear();
}

QString MainWindow::portText() const
{
    return m_ui->Combo1->currentText();
}

QString MainWindow::connectCaption() const
{
    return m_ui->Command1->text();
}

void MainWindow::setConnectCaption(const QString &caption)
{
    m_ui->Command1->setText(caption);
}

void MainWindow::setPortSelectorEnabled(bool enabled)
{
    m_ui->Combo1->setEnabled(enabled);
}

void MainWindow::SetCommand(bool sEnb)
{
    m_ui->Check1->setEnabled(sEnb);
    m_ui->Command2->setEnabled(sEnb);
    for (QPushButton *key : m_keys)
        key->setEnabled(sEnb);
    m_ui->Frame3->setEnabled(sEnb);
    m_ui->Command5->setEnabled(sEnb);
    m_ui->Command6->setEnabled(sEnb);
    m_ui->CommandPanel->setEnabled(sEnb);
}

bool MainWindow::toggleValue() const
{
    return m_ui->Check1->isChecked();
}

void MainWindow::setToggleValue(bool pressed)
{
    m_ui->Check1->setChecked(pressed);
}

void MainWindow::setToggleCaption(const QString &caption)
{
    m_ui->Check1->setText(caption);
}

QString MainWindow::deviceNumberText() const
{
    return m_ui->Text1->text();
}

QString MainWindow::commandNumberText() const
{
    return m_ui->Combo2->currentText();
}

QString MainWindow::commandNameText() const
{
    return m_ui->Text3->text();
}

void MainWindow::showWaitNotice(const QString &caption)
{
    m_ui->Label3->setText(caption);
    m_ui->Picture2->show();
}

QString MainWindow::savePathText() const
{
    return m_ui->Text5->text();
}

void MainWindow::setSavePath(const QString &path)
{
    m_ui->Text5->setText(QDir::toNativeSeparators(path));
}

void MainWindow::setSaveEnabled(bool enabled)
{
    m_ui->Command8->setEnabled(enabled);
}

void MainWindow::closeSavePanel()
{
    m_ui->Frame4->hide();
}

QString MainWindow::chooseOpenFile(const QString &title)
{
    return dialogs::openCodeFile(this, title);
}

QString MainWindow::chooseSaveFile(const QString &title)
{
    return dialogs::saveCodeFile(this, title);
}

} // namespace irlearn
