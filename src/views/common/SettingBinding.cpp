#include "SettingBinding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>

#include "Settings.h"

void SettingBinding::WriteSwitch(const char* key, bool on)
{
    SetSetting(key, on ? QStringLiteral("yes") : QStringLiteral("no"));
}

void SettingBinding::WriteNumber(QSpinBox* box, const char* key, int value, int minimum)
{
    if (value < minimum) {
        value = minimum;
        if (box) {
            // Moving the box would run its slot again with the minimum; one
            // write of the minimum is all it takes.
            const QSignalBlocker blocker(box);
            box->setValue(minimum);
        }
    }
    SetSetting(key, QString::number(value));
}

void SettingBinding::WriteChoice(const char* key, const QStringList& words, int index)
{
    if (words.isEmpty())
        return;
    SetSetting(key, index >= 0 && index < words.size() ? words.at(index) : words.last());
}

void SettingBinding::ShowSwitch(QCheckBox* box, const char* key)
{
    const QSignalBlocker blocker(box);
    box->setChecked(IsSettingOn(key));
}

void SettingBinding::ShowNumber(QSpinBox* box, const char* key)
{
    bool ok = false;
    const int value = GetSetting(key).toInt(&ok);
    if (!ok)
        return;
    const QSignalBlocker blocker(box);
    box->setValue(value);
}

void SettingBinding::ShowChoice(QComboBox* box, const char* key, const QStringList& words)
{
    const int index = words.indexOf(GetSetting(key));
    if (index < 0)
        return;
    const QSignalBlocker blocker(box);
    box->setCurrentIndex(index);
}

void SettingBinding::ShowText(QLineEdit* edit, const char* key)
{
    const QSignalBlocker blocker(edit);
    edit->setText(GetSetting(key));
}

void SettingBinding::Bind(QCheckBox* box, const char* key, std::function<void(bool)> after)
{
    ShowSwitch(box, key);
    QObject::connect(box, &QCheckBox::clicked, box, [key, after](bool checked) {
        WriteSwitch(key, checked);
        if (after)
            after(checked);
    });
}

void SettingBinding::Bind(QSpinBox* box, const char* key, int minimum)
{
    ShowNumber(box, key);
    QObject::connect(box, QOverload<int>::of(&QSpinBox::valueChanged), box,
                     [box, key, minimum](int value) { WriteNumber(box, key, value, minimum); });
}

void SettingBinding::Bind(QComboBox* box, const char* key, const QStringList& words)
{
    ShowChoice(box, key, words);
    QObject::connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), box,
                     [key, words](int index) { WriteChoice(key, words, index); });
}

void SettingBinding::Bind(QLineEdit* edit, const char* key)
{
    ShowText(edit, key);
    QObject::connect(edit, &QLineEdit::textEdited, edit, [key](const QString& text) { SetSetting(key, text); });
}
