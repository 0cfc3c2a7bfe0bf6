#include <QApplication>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/session.h"
#include "fonts.h"
#include "untCmd.h"
#include "untMain.h"

int main(int argc, char** argv)
{
    platform::linux_impl::SessionPlatform session;   // X11 wherever there is an X display
    QApplication app(argc, argv);
    session.restore();
    app.setApplicationName(QStringLiteral("mirebo"));
    InstallUiFonts();

    platform::LinuxPlatform platform;
    TfrmMain frmMain(platform);
    TfrmCmd frmCmd(platform, frmMain.Guard(), &frmMain);
    frmMain.SetCmd(&frmCmd);
    frmMain.ShowMain();
    return app.exec();
}
