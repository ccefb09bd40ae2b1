#include "base/settings.h"
#include "appearance.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("irlearn"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.irlearn"));
    QApplication::setFont(irlearn::appFont()); // styled labels take the application font

    irlearn::MainWindow window(irlearn::Settings::standard());
    window.show();
    return QApplication::exec();
}
