#include "appearance.h"
#include "base/settings.h"
#include "mainwindow.h"
#include "startoptions.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // --help and --version are answered before the GUI starts, so they work without a display
    // (a QApplication with no display to talk to aborts). Anything else, Qt's own options
    // included, is left to the parse below.
    {
        QStringList raw;
        for (int i = 0; i < argc; ++i)
            raw << QString::fromLocal8Bit(argv[i]);
        const irlearn::StartOptions early = irlearn::StartOptions::parse(raw);
        if (early.action == irlearn::StartOptions::Action::Help ||
            early.action == irlearn::StartOptions::Action::Version)
            return early.report();
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("irlearn"));
    QApplication::setApplicationVersion(irlearn::StartOptions::version());
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.irlearn"));

    // Parsed after QApplication has taken its own options (-style, -platform, ...) out.
    const irlearn::StartOptions options = irlearn::StartOptions::parse(QApplication::arguments());
    if (options.action != irlearn::StartOptions::Action::Run)
        return options.report();

    irlearn::installQtTranslations();
    QApplication::setFont(irlearn::appFont()); // styled labels take the application font
    irlearn::MainWindow window(irlearn::Settings::standard());
    window.startWith(options.port, options.device);
    window.show();
    return QApplication::exec();
}
