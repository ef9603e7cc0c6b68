#include "ShellHooks.h"

ShellHooks g_shellHooks;
MainWindow* mainWindow = nullptr;
bool g_showIsOver = false;
QPalette defaultPalette;

void SetApplicationIcon(QString path)
{
    g_shellHooks.SetApplicationIcon(path);
}
