#include "app/settings.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("irlearn"));

    irlearn::MainWindow window(irlearn::Settings::standard());
    window.show();
    return QApplication::exec();
}
