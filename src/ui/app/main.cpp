#include <QApplication>

#include "archives/Archives.h"
#include "ui/app/Application.h"

int main(int argc, char** argv) {
    // Before any thread: the archive reader dates members in local time, which otherwise
    // re-reads the zone file for every member.
    quindle::ReadTimeZoneOnce();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quindle"));
    QApplication::setOrganizationName(QStringLiteral("Tavrel"));
    quindle::SetProgramFont();

    quindle::QtUiServices ui;
    quindle::Application quindleApp(ui, QCoreApplication::applicationFilePath());
    quindleApp.MainForm->show();
    return app.exec();
}
