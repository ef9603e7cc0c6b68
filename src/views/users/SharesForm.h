#pragma once

#include <QString>
#include <QWidget>
#include <deque>
#include <memory>
#include <utility>

#include "DataHandler.h"
#include "FileInfo.h"
#include "ItemPtr.h"
#include "PeerMessenger.h"
#include "SlicedJob.h"

class ShareForm;
class TabWidget;
class Ui_SharesForm;
class UploadForm;
class UserShareBuilder;

// The Browse page: one tab per browsed share. A share browser shows another
// user's share list, asked for when its tab opens; an upload browser shows
// the own shares as one user may see them. The page turns each share list
// into a "user_share" tree, hands it to the user's browser, declares the
// types and toolbar sets both kinds of tab use, and releases a tab's data
// when the tab is closed.
class SharesForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit SharesForm(QWidget* parent = nullptr);
    ~SharesForm() override;

    // After the shared folders and the toolbar exist, before the load.
    void Init();

    // The user's browser, made (and the list asked for) when missing,
    // brought to the front.
    ShareForm* OpenShareBrowse(QString user);
    UploadForm* OpenUploadBrowse(QString user);
    // A new "user_share" tree of the list, made at once; connected to
    // nobody. The list is taken apart as it is made: it is left empty.
    static ItemPtr CreateUserShareData(FileInfoMap& share, AttributeTranslationTable& translationTable);
    // Share lists still being turned into trees, a slice per turn of the
    // event loop.
    int SharesBeingBuilt() const { return int(m_building.size()); }
    // That work, for tests to count its slices and steps.
    SlicedJob& BuildJob() { return m_buildJob; }

    TabWidget* Tabs() const;

public slots:
    void OnTabCloseRequested(int tabIndex);
    void OnUserShare(QString user, std::shared_ptr<FileInfoMap> share,
                     const AttributeTranslationTable& translationTable);
    void OnShareListRefused(QString user, PeerMessenger::ShareListRefusal why, qint64 size, qint64 bound);

private:
    void DeclareTypes();
    // Some of the oldest list's tree, or the tree made handed on; true once
    // no list is left.
    bool BuildSome(TurnSlice& slice);
    // The share being made went from the store: the rest of its list goes.
    void BuildingShareGone();
    bool IsBuilding(const QString& user) const;
    // Hands a finished tree to the user's browser, or lets it go when the
    // browser has gone or already shows one.
    void ShareBuilt(const QString& user, ItemPtr share);

    Ui_SharesForm* ui;
    // A large list is made into items over several turns, so the window
    // keeps answering; by user, oldest first, one list per user.
    std::deque<std::pair<QString, std::unique_ptr<UserShareBuilder>>> m_building;
    // Files and folders a slice makes before it looks at the turn's budget.
    static constexpr int BuildSliceFloor = 256;
    SlicedJob m_buildJob;
};

extern SharesForm* sharesForm;
