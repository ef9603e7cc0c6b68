#pragma once

#include <QString>
#include <QWidget>

#include "DataHandler.h"
#include "FileInfo.h"
#include "ItemPtr.h"

class ShareForm;
class TabWidget;
class Ui_SharesForm;
class UploadForm;

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
    // A new "user_share" tree of the list; connected to nobody.
    static ItemPtr CreateUserShareData(FileInfoMap& share, AttributeTranslationTable& translationTable);

    TabWidget* Tabs() const;

public slots:
    void OnTabCloseRequested(int tabIndex);
    void OnUserShare(QString user, FileInfoMap& share, AttributeTranslationTable& translationTable);

private:
    void DeclareTypes();

    Ui_SharesForm* ui;
};

extern SharesForm* sharesForm;
