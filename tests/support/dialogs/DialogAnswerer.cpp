#include "DialogAnswerer.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

namespace {
const int kPollMs = 20;
const int kMaxTicks = 3000;
} // namespace

DialogAnswerer::DialogAnswerer(QObject* parent) : QObject(parent), m_ticksLeft(kMaxTicks)
{
    m_timer.setInterval(kPollMs);
    connect(&m_timer, &QTimer::timeout, this, &DialogAnswerer::Tick);
    m_timer.start();
}

DialogAnswerer& DialogAnswerer::Then(Action action)
{
    m_actions.append(action);
    return *this;
}

DialogAnswerer::Action DialogAnswerer::Press(QMessageBox::StandardButton button)
{
    return [button](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        if (box && box->button(button))
            box->button(button)->click();
        else if (auto* other = qobject_cast<QDialog*>(dialog))
            other->reject();
    };
}

DialogAnswerer::Action DialogAnswerer::EnterAccount(const QString& username, const QString& password)
{
    return [username, password](QWidget* dialog) {
        auto* user = dialog->findChild<QLineEdit*>("usernameEdit");
        auto* pass = dialog->findChild<QLineEdit*>("passwordEdit");
        auto* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
        if (!user || !pass || !buttons) {
            if (auto* other = qobject_cast<QDialog*>(dialog))
                other->reject();
            return;
        }
        user->setText(username);
        pass->setText(password);
        buttons->button(QDialogButtonBox::Ok)->click();
    };
}

DialogAnswerer::Action DialogAnswerer::Cancel()
{
    return [](QWidget* dialog) {
        if (auto* d = qobject_cast<QDialog*>(dialog))
            d->reject();
    };
}

void DialogAnswerer::Tick()
{
    if (--m_ticksLeft <= 0) {
        m_timer.stop();
        return;
    }
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog || dialog == m_last || !dialog->isVisible())
        return;
    m_last = dialog;
    m_titles << dialog->windowTitle();
    auto* box = qobject_cast<QMessageBox*>(dialog);
    m_texts << (box ? box->text() : QString());
    auto* user = dialog->findChild<QLineEdit*>("usernameEdit");
    auto* password = dialog->findChild<QLineEdit*>("passwordEdit");
    if (user && password)
        m_shownAccount = QStringList() << user->text() << password->text();
    if (m_actions.isEmpty())
        Cancel()(dialog);
    else
        m_actions.takeFirst()(dialog);
}
