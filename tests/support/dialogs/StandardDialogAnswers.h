#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

// Answers the toolkit's file, folder, font and colour choosers in place of
// the user while it lives, and records what each one was asked. Answers are
// taken in order per kind; a chooser with none left is cancelled (an empty
// path, the initial font, an invalid colour).
class StandardDialogAnswers
{
public:
    struct Asked
    {
        QString kind; // "file", "folder", "font" or "color"
        QString caption;
        QString filter;
        QWidget* parent;
    };

    StandardDialogAnswers();
    ~StandardDialogAnswers();
    StandardDialogAnswers(const StandardDialogAnswers&) = delete;
    StandardDialogAnswers& operator=(const StandardDialogAnswers&) = delete;

    // For files and folders alike.
    QStringList paths;
    QList<QFont> fonts;
    QList<QColor> colors;

    QList<Asked> asked;
    // The initial font and colour each font or colour chooser was given.
    QList<QFont> fontsShown;
    QList<QColor> colorsShown;
};
