#include "windowharness.h"

#include "base/inifile.h"
#include "engine/deviceengine.h"
#include "ui/dialogs.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QFileDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>

WindowHarness::WindowHarness(const QString &linkPath, const QString &deviceNumber,
                             const QString &savedPort, irlearn::Timings timings)
{
    irlearn::IniFile ini(settingsPath());
    ini.write(QStringLiteral("Setup"), QStringLiteral("TXPort"), savedPort);
    ini.write(QStringLiteral("Setup"), QStringLiteral("TXsbID"), deviceNumber);
    if (!linkPath.isEmpty())
        pin(QStringLiteral("COM1"), linkPath);

    irlearn::dialogs::setObserver([this](QDialog *dialog) {
        if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
            m_messages << box->text();
            m_titles << box->windowTitle();
            QTimer::singleShot(m_messageDelay, box, [this, box] {
                m_closedAt << QDateTime::currentMSecsSinceEpoch();
                box->accept();
            });
        } else if (auto *files = qobject_cast<QFileDialog *>(dialog)) {
            m_fileTitles << files->windowTitle();
            const QString answer = m_fileAnswers.isEmpty() ? QString() : m_fileAnswers.takeFirst();
            QTimer::singleShot(0, files, [files, answer] {
                if (answer.isEmpty()) {
                    files->reject();
                } else {
                    files->selectFile(answer);
                    static_cast<QDialog *>(files)->accept(); // QFileDialog::accept is protected
                }
            });
        }
    });

    m_window = std::make_unique<irlearn::MainWindow>(irlearn::Settings(settingsPath()), timings);
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get()))
        qWarning("the window was not exposed");
}

WindowHarness::~WindowHarness()
{
    m_window.reset();
    irlearn::dialogs::setObserver({});
}

QString WindowHarness::settingsPath() const
{
    return m_dir.filePath(QStringLiteral("VexoSet.ini"));
}

void WindowHarness::pin(const QString &port, const QString &linkPath)
{
    irlearn::IniFile(settingsPath()).write(QStringLiteral("Ports"), port, linkPath);
}

QAbstractButton *WindowHarness::button(const QString &name) const
{
    return child<QAbstractButton>(name);
}

void WindowHarness::click(const QString &buttonName)
{
    click(button(buttonName));
}

void WindowHarness::click(QAbstractButton *b)
{
    QTest::mouseClick(b, Qt::LeftButton);
}

void WindowHarness::press(const QString &buttonName)
{
    QAbstractButton *b = button(buttonName);
    b->setFocus();
    QTest::keyClick(b, Qt::Key_Space);
}

bool WindowHarness::idle(int timeoutMs)
{
    return QTest::qWaitFor([this] { return !m_window->engine().isBusy(); }, timeoutMs);
}

bool WindowHarness::connectPort()
{
    click(QStringLiteral("Command1"));
    return button(QStringLiteral("Command1"))->text() == QStringLiteral("断 开");
}

QStringList WindowHarness::logLines() const
{
    const QString text = child<QPlainTextEdit>(QStringLiteral("Text2"))->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}
