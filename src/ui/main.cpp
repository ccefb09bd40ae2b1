#include "appearance.h"
#include "base/settings.h"
#include "mainwindow.h"
#include "startoptions.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("irlearn"));
    QApplication::setApplicationVersion(irlearn::StartOptions::version());
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.irlearn"));

    // Parsed after QApplication has taken its own options (-style, -platform, ...) out.
    const irlearn::StartOptions options = irlearn::StartOptions::parse(QApplication::arguments());
    if (options.action != irlearn::StartOptions::Action::Run)
        return options.report();

    QApplication::setFont(irlearn::appFont()); // styled labels take the application font
    irlearn::MainWindow window(irlearn::Settings::standard());
    window.startWith(options.port, options.device);
    window.show();
    return QApplication::exec();
}
