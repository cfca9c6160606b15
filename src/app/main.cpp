#include "appidentity.h"
#include "mainwindow.h"

#include <QApplication>
#include <QStringList>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Lumetra::setApplicationIdentity();

    Lumetra::MainWindow window;
    window.show();

    // Only the first argument counts; loading after show() puts a failure over the visible window.
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() >= 2)
        window.loadCommandLinePath(arguments.at(1));

    return QApplication::exec();
}
