#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <functional>

class QWidget;

// The toolkit's own choosers for files, folders, fonts and colours, behind
// one door so that a test can answer them: each runs its own modal loop,
// which no test could otherwise get past. An empty hook uses the toolkit.
// Paths come back as the toolkit gives them; callers convert separators.
class StandardDialogs
{
public:
    struct Hooks
    {
        // parent, caption, start folder, filter
        std::function<QString(QWidget*, const QString&, const QString&, const QString&)> openFileName;
        // parent, caption, start folder
        std::function<QString(QWidget*, const QString&, const QString&)> existingDirectory;
        // parent, caption, suggested path, filter
        std::function<QString(QWidget*, const QString&, const QString&, const QString&)> saveFileName;
        // initial font, parent
        std::function<QFont(const QFont&, QWidget*)> font;
        // initial colour, parent
        std::function<QColor(const QColor&, QWidget*)> color;
    };

    // An empty text when the user cancelled.
    static QString OpenFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter);
    // A file to write, which may not exist yet; an empty text when the user
    // cancelled.
    static QString SaveFileName(QWidget* parent, const QString& caption, const QString& suggestedPath,
                                const QString& filter);
    // Folders only; an empty text when the user cancelled.
    static QString ExistingDirectory(QWidget* parent, const QString& caption, const QString& folder);
    // The chosen font, or the initial one when the user cancelled.
    static QFont Font(const QFont& initial, QWidget* parent);
    // An invalid colour when the user cancelled.
    static QColor Color(const QColor& initial, QWidget* parent);

    static Hooks hooks;
};
