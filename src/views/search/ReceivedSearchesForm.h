#pragma once

#include <QString>
#include <QWidget>

class Ui_ReceivedSearchesForm;

// The Search page's log of other users' searches that reached us, newest
// on top, each marked "Match" when we answered it with files; at most
// Capacity rows, the oldest going first. The toolbar pauses and resumes
// it; while paused nothing is recorded, and the client goes on answering.
class ReceivedSearchesForm : public QWidget
{
    Q_OBJECT

public:
    static constexpr int Capacity = 500;

    explicit ReceivedSearchesForm(QWidget* parent = nullptr);
    ~ReceivedSearchesForm() override;

    // After the shared-folders manager and the toolbar exist.
    void Init();

    bool IsPaused() const { return m_paused; }

public slots:
    void OnSearchProcessed(QString search, bool matched);
    void OnActionTriggered(QWidget* widget, QString action);

private:
    Ui_ReceivedSearchesForm* ui;
    bool m_paused = false;
};

extern ReceivedSearchesForm* receivedSearchesForm;
