#pragma once

#include <QPalette>
#include <QString>
#include <functional>

class MainWindow;

// The framework in this folder sits below the main window: the main window
// creates it, so the framework may not call the main window directly or it
// could not be built and tested on its own. The main window fills these in
// when it is built, a page the few that other views call it by; an empty
// hook does nothing (and an empty activity query reads as "not active").
class ShellHooks
{
public:
    std::function<bool()> isMainWindowActive;
    std::function<void(const QString&)> popupAlert;
    std::function<void(const QString&)> setApplicationIcon;
    std::function<void()> resetApplicationIcon;
    std::function<void()> saveData;
    // Set by the transfers page in its Init and cleared by its destructor:
    // the colours dialog repaints the transfer rows through it after a save
    // without knowing the page.
    std::function<void()> recolorTransfers;

    bool IsMainWindowActive() const { return isMainWindowActive ? isMainWindowActive() : false; }
    void PopupAlert(const QString& text) const
    {
        if (popupAlert)
            popupAlert(text);
    }
    void SetApplicationIcon(const QString& path) const
    {
        if (setApplicationIcon)
            setApplicationIcon(path);
    }
    void ResetApplicationIcon() const
    {
        if (resetApplicationIcon)
            resetApplicationIcon();
    }
    void SaveData() const
    {
        if (saveData)
            saveData();
    }
    void RecolorTransfers() const
    {
        if (recolorTransfers)
            recolorTransfers();
    }
};

extern ShellHooks g_shellHooks;

// Set by the main window's constructor.
extern MainWindow* mainWindow;

// Set by the main window's teardown after its last save; from then on the
// toolbars ignore the widgets that die around them.
extern bool g_showIsOver;

// The application palette at start, before any stored colour was applied:
// what the colours dialog resets the window colours to.
extern QPalette defaultPalette;

// Sets the icon of the application, the main window and the tray.
void SetApplicationIcon(QString path);
