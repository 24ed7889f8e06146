// cryoweaver.exe: the window for melting and freezing the statics of a UOX3 world.
#include "MainWindow.h"
#include "SettingsStore.h"

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    INITCOMMONCONTROLSEX controls{
        sizeof controls, ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    const std::unique_ptr<cryo::settings::SettingsStore> store = cryo::settings::UserSettingsStore();
    cryo::win32::MainWindow window(*store, instance);
    window.Show(showCommand);
    return cryo::win32::RunMessageLoop(window);
}
