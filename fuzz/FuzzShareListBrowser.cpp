// A peer's share list as the share browser shows it: the input is the
// list's body after inflation, read by peer messaging's reader, handed to
// the Browse page as a list that arrived for an open browser, made into
// the share's items a slice per turn and shown as the browser's folder
// tree. Whatever the list, the build ends in bounded time, every folder of
// the list becomes one item and one node, and closing the tab lets all of
// it go.
#include "Data.h"
#include "FuzzSupport.h"
#include "FuzzWidgets.h"
#include "PeerMessages.h"
#include "TabWidget.h"
#include "ViewFixture.h"
#include "users/ShareFolderTree.h"
#include "users/ShareForm.h"
#include "users/SharesForm.h"

#include <QApplication>
#include <QPointer>
#include <QTreeWidget>
#include <vector>

namespace {

const char* const kUser = "peer";

struct Harness
{
    ViewFixture fixture;
    SharesForm* page = nullptr;

    Harness()
    {
        page = new SharesForm;
        fixture.AddPage(page, "Browse");
        page->Init();
    }
};

Harness* TheHarness()
{
    static Harness* harness = [] {
        fuzz::EnsureWidgetsApplication();
        return new Harness;
    }();
    return harness;
}

size_t Shares()
{
    return d.GetType("user_share")->GetItems().size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Harness* harness = TheHarness();
    FileInfoMap list;
    AttributeTranslationTable attributes;
    if (!PeerMessages::ReadShareList(fuzz::Bytes(data, size), list, attributes))
        return 0;

    QPointer<ShareForm> form = harness->page->OpenShareBrowse(kUser);
    fuzz::Require(form != nullptr);
    harness->page->OnUserShare(kUser, std::make_shared<FileInfoMap>(list), attributes);
    // A large list is made over several turns, and its tree too; one the
    // browser never shows is a hang.
    auto made = [&] { return harness->page->SharesBeingBuilt() == 0 && form && !form->IsFilling(); };
    fuzz::RunUntil(made, 10000);
    fuzz::Require(made());
    const ItemPtr share = form->Share();
    fuzz::Require(bool(share));
    const size_t folders = share.GetItems("user_share_folder").size();
    fuzz::Require(folders == list.size());
    fuzz::Require(size_t(form->Tree().FolderCount()) == folders);
    // Nodes, counted in the tree itself: one per folder, however deep.
    int nodes = 0;
    std::vector<QTreeWidgetItem*> pending;
    QTreeWidget* tree = form->folderTree();
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        pending.push_back(tree->topLevelItem(i));
    while (!pending.empty()) {
        QTreeWidgetItem* node = pending.back();
        pending.pop_back();
        ++nodes;
        for (int i = 0; i < node->childCount(); ++i)
            pending.push_back(node->child(i));
    }
    fuzz::Require(size_t(nodes) == folders);

    // Closed as the user closes the tab: the browser and its share go.
    harness->page->OnTabCloseRequested(harness->page->Tabs()->indexOf(form));
    // Outside any event loop of its own, a deferred deletion is delivered
    // only when asked for.
    fuzz::RunUntil(
        [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return !form && Shares() == 0;
        },
        10000);
    fuzz::Require(!form);
    fuzz::Require(Shares() == 0);
    return 0;
}
