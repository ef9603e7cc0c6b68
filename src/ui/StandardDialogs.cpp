#include "StandardDialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>

StandardDialogs::Hooks StandardDialogs::hooks;

QString StandardDialogs::OpenFileName(QWidget* parent, const QString& caption, const QString& folder,
                                      const QString& filter)
{
    if (hooks.openFileName)
        return hooks.openFileName(parent, caption, folder, filter);
    return QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

QString StandardDialogs::SaveFileName(QWidget* parent, const QString& caption, const QString& suggestedPath,
                                      const QString& filter)
{
    if (hooks.saveFileName)
        return hooks.saveFileName(parent, caption, suggestedPath, filter);
    return QFileDialog::getSaveFileName(parent, caption, suggestedPath, filter);
}

QString StandardDialogs::ExistingDirectory(QWidget* parent, const QString& caption, const QString& folder)
{
    if (hooks.existingDirectory)
        return hooks.existingDirectory(parent, caption, folder);
    return QFileDialog::getExistingDirectory(parent, caption, folder, QFileDialog::ShowDirsOnly);
}

QFont StandardDialogs::Font(const QFont& initial, QWidget* parent)
{
    if (hooks.font)
        return hooks.font(initial, parent);
    bool accepted = false;
    // A cancelled dialog hands back the font it started with.
    return QFontDialog::getFont(&accepted, initial, parent);
}

QColor StandardDialogs::Color(const QColor& initial, QWidget* parent)
{
    if (hooks.color)
        return hooks.color(initial, parent);
    return QColorDialog::getColor(initial, parent);
}
