#include "StandardDialogAnswers.h"

#include "StandardDialogs.h"

StandardDialogAnswers::StandardDialogAnswers()
{
    StandardDialogs::hooks.openFileName = [this](QWidget* parent, const QString& caption, const QString&,
                                                 const QString& filter) {
        asked.append({"file", caption, filter, parent});
        return paths.isEmpty() ? QString() : paths.takeFirst();
    };
    StandardDialogs::hooks.existingDirectory = [this](QWidget* parent, const QString& caption, const QString&) {
        asked.append({"folder", caption, QString(), parent});
        return paths.isEmpty() ? QString() : paths.takeFirst();
    };
    StandardDialogs::hooks.font = [this](const QFont& initial, QWidget* parent) {
        asked.append({"font", QString(), QString(), parent});
        fontsShown.append(initial);
        return fonts.isEmpty() ? initial : fonts.takeFirst();
    };
    StandardDialogs::hooks.color = [this](const QColor& initial, QWidget* parent) {
        asked.append({"color", QString(), QString(), parent});
        colorsShown.append(initial);
        return colors.isEmpty() ? QColor() : colors.takeFirst();
    };
}

StandardDialogAnswers::~StandardDialogAnswers()
{
    StandardDialogs::hooks = StandardDialogs::Hooks();
}
