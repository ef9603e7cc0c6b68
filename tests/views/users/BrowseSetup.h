// What the browsing tests share: the Browse page in the view fixture, other
// users who answer its requests with share lists, and readings of the
// browsers' trees.
#pragma once

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <QXmlStreamReader>
#include <algorithm>

#include "Data.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "TestServer.h"
#include "ViewFixture.h"
#include "users/ShareFolderTree.h"
#include "users/ShareForm.h"
#include "users/SharesForm.h"

struct ListedFile
{
    QByteArray name;
    quint64 size;
    QList<QPair<quint32, quint32>> attributes = {};
};
// Folder paths ("\" separators) with their files.
typedef QList<QPair<QByteArray, QList<ListedFile>>> ShareList;

// A share list (peer message 5) as a peer sends it: compressed.
inline QByteArray ShareListBody(const ShareList& folders)
{
    FakeWire wire;
    wire.U32(quint32(folders.size()));
    for (const auto& folder : folders) {
        wire.StrBytes(folder.first).U32(quint32(folder.second.size()));
        for (const ListedFile& file : folder.second)
            wire.File(file.name, file.size, file.attributes.isEmpty() ? QByteArray() : "mp3", file.attributes);
    }
    wire.U32(0);
    return FakeWire::Compress(wire.Bytes());
}

// Nested folders with a folder that has no parent in the list, files with
// and without attributes.
inline ShareList Music()
{
    return {
        {"music", {{"readme.txt", 1200}}},
        {"music\\jazz",
         {{"b.mp3", 4000000, {{0, 128}, {2, 1}}},
          {"a.mp3", 1234567, {{0, 320}, {1, 245}, {2, 0}}},
          {"liner notes.txt", 0}}},
        {"music\\jazz\\coltrane", {{"blue train.mp3", 9000}, {"lazy bird.mp3", 8000}}},
        {"music\\rock", {{"x.mp3", 5}}},
        {"Podcasts", {{"ep1.mp3", 70}}},
        {"orphan\\deep\\x", {{"z.bin", 7}}},
    };
}

const QStringList kMusicNodes = {"music", " jazz", "  coltrane", " rock", "x", "Podcasts"};

// Downloads in their order: user, remote folder and name, save level, and
// whether single.
inline QStringList Downloads()
{
    QStringList texts;
    for (const ItemPtr& entry : d.GetType("download_entry")->GetItems().SortNumericBy("download_order", true))
        texts << entry["user"].AsString() + ":" + entry["remote_folder"].AsString() + "\\" +
                     entry["file_name"].AsString() + " " + entry["subfolder_save_level"].AsString() +
                     (entry.IsConnected("single_download") ? " single" : "");
    return texts;
}

// A received list of folders "big\\f0" on, each of 1,000 files "n0.bin" on.
inline FileInfoMap BigFolders(int folders)
{
    FileInfoMap list;
    for (int folder = 0; folder < folders; ++folder) {
        std::set<FileInfo>& files = list["big\\f" + std::to_string(folder)];
        for (int n = 0; n < 1000; ++n)
            files.insert(FileInfo("n" + std::to_string(n) + ".bin", n));
    }
    return list;
}

// The exported file read back: one line per element, indented by depth.
inline QStringList ReadExport(const QString& path, int* depth = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {"unreadable"};
    QXmlStreamReader xml(&file);
    QStringList lines;
    int level = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            QStringList values;
            for (const QXmlStreamAttribute& attribute : xml.attributes())
                values << attribute.name().toString() + "=" + attribute.value().toString();
            if (!depth || xml.name() != QLatin1String("folder"))
                lines << QString(level, ' ') + xml.name().toString() + " " + values.join(" ");
            ++level;
            if (depth)
                *depth = std::max(*depth, level);
        } else if (xml.isEndElement()) {
            --level;
        }
    }
    if (xml.hasError())
        lines << "error: " + xml.errorString();
    return lines;
}

struct BrowseSetup
{
    ViewFixture f;
    SharesForm* page = nullptr;
    QHash<QString, FakePeerLink*> links;

    BrowseSetup()
    {
        page = new SharesForm;
        f.AddPage(page, "Browse");
        page->Init();
    }

    FakePeerLink* Link(const QString& user)
    {
        if (!links.contains(user))
            links.insert(user, f.LinkedPeer(user));
        return links.value(user);
    }

    // Opens the user's browser and waits for its request: the user's link
    // once the request is there, else null.
    FakePeerLink* Asking(const QString& user, ShareForm*& form)
    {
        FakePeerLink* link = Link(user);
        if (!link)
            return nullptr;
        const int asked = PeerEngineFixture::Received(link, 4).size();
        form = page->OpenShareBrowse(user);
        return PeerEngineFixture::WaitFor(link, 4, asked + 1) ? link : nullptr;
    }

    // Opens the user's browser, waits for its request and answers it; the
    // browser once it shows the share whole, else null.
    ShareForm* Browse(const QString& user, const ShareList& list)
    {
        ShareForm* form = nullptr;
        FakePeerLink* link = Asking(user, form);
        if (!link)
            return nullptr;
        link->SendMessage(5, ShareListBody(list));
        for (int waited = 0; !form->ShowsShare() && waited < 5000; waited += 10)
            QTest::qWait(10);
        return form->ShowsShare() ? form : nullptr;
    }

    // Opens the user's browser on a list as the page makes it from a
    // peer's; the browser once it shows the share whole, else null.
    ShareForm* Show(const QString& user, const FileInfoMap& list)
    {
        ShareForm* form = page->OpenShareBrowse(user);
        page->OnUserShare(user, std::make_shared<FileInfoMap>(list), AttributeTranslationTable());
        for (int waited = 0; !form->ShowsShare() && waited < 30000; waited += 10)
            QTest::qWait(10);
        return form->ShowsShare() ? form : nullptr;
    }

    // The tree's nodes depth first, indented by depth, hidden ones in
    // brackets.
    static QStringList Nodes(QTreeWidget* tree)
    {
        QStringList texts;
        std::vector<std::pair<QTreeWidgetItem*, int>> pending;
        for (int i = tree->topLevelItemCount() - 1; i >= 0; --i)
            pending.emplace_back(tree->topLevelItem(i), 0);
        while (!pending.empty()) {
            const auto next = pending.back();
            pending.pop_back();
            const QString text = next.first->text(0);
            texts << QString(next.second, ' ') + (next.first->isHidden() ? "[" + text + "]" : text);
            for (int i = next.first->childCount() - 1; i >= 0; --i)
                pending.emplace_back(next.first->child(i), next.second + 1);
        }
        return texts;
    }

    static QTreeWidgetItem* Node(QTreeWidget* tree, const QString& text)
    {
        return tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive).value(0);
    }

    // The file list's rows in order: its cells joined by "|", an icon as
    // "*" in front.
    static QStringList Rows(QTreeWidget* list)
    {
        QStringList rows;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = list->topLevelItem(i);
            rows << QString(row->icon(0).isNull() ? "" : "*") + row->text(0) + "|" + row->text(1) + "|" + row->text(2);
        }
        return rows;
    }

    // A press long enough after any earlier one to start a double click of
    // its own.
    static void DoubleClick(QTreeWidget* tree, QTreeWidgetItem* row)
    {
        const QPoint at = tree->visualItemRect(row).center();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at, QApplication::doubleClickInterval() + 50);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    }

    // Right-clicks the row and chooses the entry of that text; the entries
    // the menu showed.
    static QStringList MenuAt(QTreeWidget* tree, QTreeWidgetItem* row, const QString& choice)
    {
        const QPoint at = tree->visualItemRect(row).center();
        return ViewFixture::ChooseFromMenu([&] { emit tree->customContextMenuRequested(at); }, choice);
    }

    static int Count(const char* type) { return int(d.GetType(type)->GetItems().size()); }
};
