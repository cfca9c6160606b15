#include "appidentity.h"
#include "commandline.h"
#include "mainwindow.h"

#include <QApplication>
#include <QStringList>

int main(int argc, char** argv)
{
    // Printing from scripts needs no window and no display.
    if (Lumetra::wantsCommandLine(argc, argv))
        return Lumetra::runCommandLine(argc, argv);

    QApplication app(argc, argv);
    Lumetra::setApplicationIdentity();

    Lumetra::MainWindow window;
    window.show();

    // Every argument is a page of one target set; loading after show() puts a failure over the
    // visible window.
    window.loadCommandLine(QCoreApplication::arguments().mid(1));

    return QApplication::exec();
}
