#include <QApplication>
#include <QMessageBox>
#include <csignal>
#include <exception>

#include "core/program_folder.h"
#include "fetch/request_tile.h"
#include "ui/signal_close.h"
#include "ui/tform1.h"
#include "ui/windows.h"

int main(int argc, char** argv) {
    // A server that hangs up mid-transfer is an ordinary failed request,
    // never the end of the program.
    std::signal(SIGPIPE, SIG_IGN);
    // Once, before any worker thread can start.
    FetchGlobalInit();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vistrel"));
    try {
        // Beside the executable, or the user's data folder once installed.
        const ProgramFolderResult place =
            PrepareProgramFolder(QCoreApplication::applicationDirPath().toStdString() + "/");
        if (!place.Error.empty())
            QMessageBox::warning(nullptr, QStringLiteral("Vistrel"),
                                 QString::fromStdString(place.Error));
        auto windows = Windows::Create(place.Folder);
        CloseOnTerminationSignals(windows->Form1);
        windows->Form1->show();
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("Vistrel"), QString::fromUtf8(e.what()));
    }
    return 0;
}
