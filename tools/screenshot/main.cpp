// Renders the main window to a PNG for the documentation:
//   irlearn-screenshot SETTINGS.ini OUT.png [connect [commands]]
// With "connect" the window connects to the port the settings name first; with "commands" it then
// brings the command-table panel forward.
#include "base/settings.h"
#include "appearance.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    QApplication::setFont(irlearn::appFont()); // styled labels take the application font
    if (args.size() < 3) {
        qWarning("usage: irlearn-screenshot SETTINGS.ini OUT.png [connect [commands]]");
        return 2;
    }
    irlearn::MainWindow window{irlearn::Settings(args.at(1))};
    window.show();
    if (args.size() > 3 && args.at(3) == QLatin1String("connect"))
        window.findChild<QAbstractButton *>(QStringLiteral("Command1"))->click();
    if (args.size() > 4 && args.at(4) == QLatin1String("commands"))
        window.findChild<QAbstractButton *>(QStringLiteral("CommandPanel"))->click();
    QTimer::singleShot(300, &app, [&] {
        const bool saved = window.grab().save(args.at(2));
        QApplication::exit(saved ? 0 : 1);
    });
    return QApplication::exec();
}
