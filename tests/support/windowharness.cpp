#include "windowharness.h"

#include "base/inifile.h"
#include "base/sessionlog.h"
#include "ui/dialogs.h"

#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

WindowHarness::WindowHarness(const QString &linkPath, irlearn::Timings timings)
{
    irlearn::IniFile ini(settingsPath());
    ini.write(u"Setup"_s, u"TXPort"_s, u"COM1"_s);
    ini.write(u"Setup"_s, u"TXsbID"_s, u"0001"_s);
    if (!linkPath.isEmpty())
        ini.write(u"Ports"_s, u"COM1"_s, linkPath);

    irlearn::dialogs::setObserver([this](QDialog *dialog) {
        auto *box = qobject_cast<QMessageBox *>(dialog);
        if (box && (box->standardButtons() & QMessageBox::Yes)) {
            // A question is answered "是" unless told otherwise.
            m_questions << box->text();
            const bool yes = m_questionAnswers.isEmpty() || m_questionAnswers.takeFirst();
            QTimer::singleShot(0, box, [box, yes] {
                box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
            });
        } else if (box) {
            m_messages << box->text();
            m_titles << box->windowTitle();
            QTimer::singleShot(m_messageDelay, box, [this, box] {
                m_closedAt << QDateTime::currentMSecsSinceEpoch();
                box->accept();
            });
        } else if (auto *files = qobject_cast<QFileDialog *>(dialog)) {
            m_fileTitles << files->windowTitle();
            m_fileFolders << files->directory().absolutePath();
            const QString answer = m_fileAnswers.isEmpty() ? QString() : m_fileAnswers.takeFirst();
            QTimer::singleShot(0, files, [files, answer] {
                if (answer.isEmpty()) {
                    files->reject();
                } else {
                    files->selectFile(answer);
                    static_cast<QDialog *>(files)->accept(); // QFileDialog::accept is protected
                }
            });
        } else {
            auto answer = m_dialogAnswers.isEmpty()
                              ? std::function<void(QDialog *)>(&QDialog::reject)
                              : m_dialogAnswers.takeFirst();
            QTimer::singleShot(0, dialog, [dialog, answer] { answer(dialog); });
        }
    });

    // The window's session log goes where the test can read it, not into the home folder.
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir.filePath(u"state"_s)));
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

bool WindowHarness::controlsEnabled(bool enabled) const
{
    static const QRegularExpression names(
        QStringLiteral("^(learningToggle|keyButton\\d|setDeviceNumberButton|readTableButton|"
                       "downloadTableButton|commandTablePanel)$"));
    const QList<QWidget *> controls = m_window->findChildren<QWidget *>(names);
    return controls.size() == 15 &&
           std::all_of(controls.begin(), controls.end(),
                       [enabled](const QWidget *w) { return w->isEnabled() == enabled; }) &&
           button("panelSwitchButton")->isEnabled();
}

bool WindowHarness::deviceInFront() const
{
    const QObjectList &siblings = child<QWidget>("devicePanel")->parent()->children();
    return siblings.indexOf(child<QWidget>("devicePanel")) >
           siblings.indexOf(child<QWidget>("commandTablePanel"));
}

QString WindowHarness::setting(const char *section, const char *key) const
{
    return irlearn::IniFile(settingsPath())
        .read(QLatin1String(section), QLatin1String(key), u"?"_s);
}

QByteArray WindowHarness::readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WindowHarness::writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList WindowHarness::logLines() const
{
    const QString text = child<QPlainTextEdit>("logView")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

QByteArray WindowHarness::sessionFile() const
{
    return readFile(
        QDir(sessionLogFolder()).filePath(irlearn::SessionLog::fileName(QDate::currentDate())));
}

QStringList WindowHarness::sessionLines() const
{
    QStringList lines = QString::fromUtf8(sessionFile()).split(u'\n', Qt::SkipEmptyParts);
    static const QRegularExpression stamp(u"^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "_s);
    for (QString &line : lines)
        line.remove(stamp);
    return lines;
}
