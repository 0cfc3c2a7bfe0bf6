#include <QApplication>

#include "platform/linux/LinuxPlatform.h"
#include "fonts.h"
#include "untCmd.h"
#include "untMain.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("mirebo"));
    InstallUiFonts();

    platform::LinuxPlatform platform;
    TfrmMain frmMain(platform);
    TfrmCmd frmCmd(platform, frmMain.Guard(), &frmMain);
    frmMain.SetCmd(&frmCmd);
    frmMain.ShowMain();
    return app.exec();
}
