// Renders the main window to a PNG for the documentation:
//   irlearn-screenshot SETTINGS.ini OUT.png [connect [commands | read N | save | learn | wizard]]
// With "connect" the window connects to the port the settings name first (a connect that fails
// shows its explanation, as the operator would see it); with "commands" it then brings the
// command-table panel forward; with "read N" it reads the device's code table and renders the
// window once the wait notice shows N of 16 records; with "save" it reads the table and renders
// the save panel that follows, its labels filled in as an operator would; with "learn" it starts
// learning numbered command 1 on the command table and renders the window once the prompt shows;
// with "wizard" it runs the learning wizard and renders its dialog when it first waits for the
// operator (a failed key, or the first test).
#include "appearance.h"
#include "base/settings.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    QApplication::setFont(irlearn::appFont()); // styled labels take the application font
    irlearn::installQtTranslations();
    if (args.size() < 3) {
        qWarning(
            "usage: irlearn-screenshot SETTINGS.ini OUT.png [connect [commands | read N | save | "
            "learn]]");
        return 2;
    }
    irlearn::MainWindow window{irlearn::Settings(args.at(1))};
    window.show();
    const auto click = [&window](const char *name) {
        window.findChild<QAbstractButton *>(QLatin1String(name))->click();
    };
    const auto grab = [&] {
        const bool saved = window.grab().save(args.at(2));
        QApplication::exit(saved ? 0 : 1);
    };
    if (args.size() > 3 && args.at(3) == QLatin1String("connect"))
        click("connectButton");
    if (args.size() > 4 && args.at(4) == QLatin1String("commands"))
        click("panelSwitchButton");
    if (args.size() > 4 && args.at(4) == QLatin1String("learn")) {
        click("panelSwitchButton");
        window.findChild<QLineEdit *>(QStringLiteral("commandNameEdit"))
            ->setText(QStringLiteral("开机"));
        click("learnCommandButton");
        auto *prompt = window.findChild<QLabel *>(QStringLiteral("learnPromptLabel"));
        auto *poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, &app, [=] {
            if (prompt->isVisible()) {
                poll->stop();
                grab();
            }
        });
        poll->start(5);
        return QApplication::exec();
    }
    if (args.size() > 4 && args.at(4) == QLatin1String("wizard")) {
        click("learningWizardButton");
        auto *wizard = window.findChild<QDialog *>(QStringLiteral("learningWizard"));
        wizard->findChild<QAbstractButton *>(QStringLiteral("wizardStart"))->click();
        auto *poll = new QTimer(&app);
        QElapsedTimer since;
        since.start();
        QObject::connect(poll, &QTimer::timeout, &app, [=, &since] {
            const auto shown = [wizard](const char *name) {
                return wizard->findChild<QAbstractButton *>(QLatin1String(name))->isVisible();
            };
            if (shown("wizardRetry") || shown("wizardSend")) {
                poll->stop();
                QApplication::exit(wizard->grab().save(args.at(2)) ? 0 : 1);
            } else if (since.elapsed() > 60000) {
                qWarning("the wizard never waited for the operator");
                QApplication::exit(1);
            }
        });
        poll->start(20);
        return QApplication::exec();
    }
    if (args.size() > 4 && args.at(4) == QLatin1String("save")) {
        click("readTableButton");
        auto *panel = window.findChild<QWidget *>(QStringLiteral("savePanel"));
        auto *poll = new QTimer(&app);
        QElapsedTimer since;
        since.start();
        QObject::connect(poll, &QTimer::timeout, &app, [=, &window, &since] {
            if (panel->isVisible()) {
                poll->stop();
                const auto fill = [&window](const char *name, const char *text) {
                    window.findChild<QLineEdit *>(QLatin1String(name))
                        ->setText(QString::fromUtf8(text));
                };
                fill("saveFileEdit", "/home/operator/客厅空调.bin");
                fill("labelBrandEdit", "海风");
                fill("labelModelEdit", "KF-26GW");
                fill("labelRemoteEdit", "HF-R01");
                fill("labelNotesEdit", "客厅");
                // As the file dialog leaves it once a file is chosen.
                window.findChild<QAbstractButton *>(QStringLiteral("saveTableButton"))
                    ->setEnabled(true);
                grab();
            } else if (since.elapsed() > 60000) {
                qWarning("the read never ended");
                QApplication::exit(1);
            }
        });
        poll->start(20);
        return QApplication::exec();
    }
    if (args.size() > 5 && args.at(4) == QLatin1String("read")) {
        const QString wanted = QStringLiteral("%1/16").arg(args.at(5));
        click("readTableButton");
        auto *notice = window.findChild<QLabel *>(QStringLiteral("waitNoticeLabel"));
        auto *poll = new QTimer(&app);
        QElapsedTimer since;
        since.start();
        QObject::connect(poll, &QTimer::timeout, &app, [=, &since] {
            if (notice->text().contains(wanted)) {
                poll->stop();
                grab();
            } else if (since.elapsed() > 30000) {
                qWarning("the read never reached the record asked for");
                QApplication::exit(1);
            }
        });
        poll->start(5);
        return QApplication::exec();
    }
    QTimer::singleShot(300, &app, grab);
    return QApplication::exec();
}
