#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

// Controls bound to "global" setting keys. Three rules hold for every kind:
// showing a stored value in a control writes nothing back (its signals are
// blocked while it is set); only a user's change writes, once, through the
// store's one write (so writing the text a key holds is silent); and a
// number is never stored below its minimum. Bind connects a control to its
// key; the Write functions are there for slots that keep their own names.
// Keys are string literals: the connections keep the pointer.
class SettingBinding
{
public:
    // "yes" when on, "no" when off.
    static void WriteSwitch(const char* key, bool on);
    // The decimal text of the value, raised to the minimum first; a box
    // below it is set to it without a second write.
    static void WriteNumber(QSpinBox* box, const char* key, int value, int minimum);
    // The word at the index; an index outside the list writes the last word.
    static void WriteChoice(const char* key, const QStringList& words, int index);

    static void ShowSwitch(QCheckBox* box, const char* key);
    // A key without a value leaves the box as it is.
    static void ShowNumber(QSpinBox* box, const char* key);
    // A stored word not in the list leaves the box as it is.
    static void ShowChoice(QComboBox* box, const char* key, const QStringList& words);
    static void ShowText(QLineEdit* edit, const char* key);

    // Show, then write on every click; then runs after(checked), if given.
    static void Bind(QCheckBox* box, const char* key, std::function<void(bool)> after = nullptr);
    static void Bind(QSpinBox* box, const char* key, int minimum);
    static void Bind(QComboBox* box, const char* key, const QStringList& words);
    // Writes on every edit by the user, not on text set by the program.
    static void Bind(QLineEdit* edit, const char* key);
};
