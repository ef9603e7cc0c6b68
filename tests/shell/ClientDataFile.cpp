#include "ClientDataFile.h"

#include "Data.h"
#include "DataSaver.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "ShareScan.h"
#include "SharedFoldersManager.h"
#include "TransferQueueManager.h"

#include <QSet>
#include <QTcpServer>

#include <memory>
#include <vector>

void ClientDataFile::SetSetting(const QString& key, const QString& value)
{
    m_settings.append(qMakePair(key, value));
}

void ClientDataFile::ShareFolder(const QString& localPath, const QStringList& groups)
{
    m_folders.append(qMakePair(localPath, groups));
}

void ClientDataFile::AddDownload(const QString& user, const QString& remoteFolder, const QString& fileName, qint64 size)
{
    m_downloads.append({user, remoteFolder, fileName, size});
}

void ClientDataFile::AutojoinRoom(const QString& room)
{
    m_autojoinRooms.append(room);
}

void ClientDataFile::AddWishListSearch(const QString& text, bool enabled, bool discardRepeats)
{
    m_wishListSearches.append({text, enabled, discardRepeats});
}

void ClientDataFile::ExcludeExtension(const QString& ending)
{
    m_excludedExtensions.append(ending);
}

void ClientDataFile::ListUser(const QString& user, const QStringList& groups)
{
    m_listed.append(qMakePair(user, groups));
}

void ClientDataFile::NoteUser(const QString& user, const QString& note)
{
    m_notes.append({user, note});
}

void ClientDataFile::MarkUser(const QString& user, const QString& marker)
{
    m_marks.append({user, marker});
}

bool ClientDataFile::Write(const QString& prefix, QString* error) const
{
    QString failure;
    d.Reset();
    {
        // The engines that own the saved types, in the main window's order,
        // so the file holds what the program's own first run would write.
        // Nothing connects and nothing listens: no data-loaded notice is
        // given, and the server connection drops requests while logged out.
        auto saver = std::make_unique<DataSaver>();
        auto server = std::make_unique<Server>();
        DeclareSettingTypes();
        saver->AddSavedType("global");
        saver->AddSavedByConnectionType("global_value", "global");
        server->CreateData();
        auto messenger = std::make_unique<PeerMessenger>();
        auto shares = std::make_unique<SharedFoldersManager>();
        auto transfers = std::make_unique<TransferQueueManager>();

        // After the engines, so stored values replace their defaults as a
        // load would; download paths then use the stored download folder.
        for (const auto& setting : m_settings)
            ::SetSetting(setting.first.toUtf8().constData(), setting.second);
        for (const auto& folder : m_folders) {
            ItemPtr item = ShareScanned(shares.get(), folder.first);
            if (!item) {
                failure = "cannot share " + folder.first;
                break;
            }
            if (folder.second.isEmpty())
                item.NewItem("shared_public");
            for (const QString& group : folder.second)
                item.Connect(d.GetType("user_list_group")->GetItem(Value(group)));
        }
        for (const QString& room : m_autojoinRooms)
            d.GetType("room")->GetItem(room).NewItem("room_autojoin");
        for (const WishListSearch& search : m_wishListSearches) {
            ItemPtr item = d.GetType("wish_list_item")->GetItem(search.text);
            if (search.enabled)
                item += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
            if (search.discardRepeats) {
                item += d.GetType("discard_repeated_results")->GetGlobalNullItem();
                item += d.GetType("received_results_from_users")->NewItem();
            }
        }
        for (const QString& ending : m_excludedExtensions)
            d.GetType("excluded_download_extension")->GetItem(Value(ending));
        for (const auto& listed : m_listed) {
            ItemPtr node = d.GetType("user")->GetItem(Value(listed.first)).NewItem("in_user_list");
            for (const QString& group : listed.second)
                node.Connect(d.GetType("user_list_group")->GetItem(Value(group)));
        }
        if (!m_notes.isEmpty()) {
            // Declared and saved as the main window does.
            d.GetType("user")->RelateToType(d.NewType("user_note", 1, false, true), many, one, false);
            saver->AddSavedType("user_note");
            saver->AddSavedByConnectionType("user", "user_note");
        }
        for (const auto& note : m_notes)
            d.GetType("user")->GetItem(note.first).Connect(d.GetType("user_note")->GetItem(Value(note.second)));
        for (const auto& mark : m_marks) {
            if (mark.second == "user_online_alert" && !d.HasType("user_online_alert")) {
                // Declared and saved as the users page does.
                d.GetType("user")->RelateToType(d.NewType("user_online_alert", 2, true, true), many, one, false);
                saver->AddSavedType("user_online_alert");
                saver->AddSavedByConnectionType("user", "user_online_alert");
            }
            if (!d.HasType(mark.second.toStdString())) {
                failure = "no marker " + mark.second;
                break;
            }
            d.GetType("user")->GetItem(mark.first).NewItem(mark.second.toUtf8().constData());
        }
        for (const Download& download : m_downloads) {
            if (!failure.isEmpty())
                break;
            if (!transfers->AddDownload(download.user, download.fileName.toStdString(),
                                        download.remoteFolder.toStdString(), download.size, false, 0))
                failure = "cannot queue " + download.fileName;
        }
        if (failure.isEmpty()) {
            try {
                saver->Save(prefix);
            } catch (const DataSaveFailure&) {
                failure = "cannot save " + prefix;
            }
        }

        // The main window's teardown order.
        transfers.reset();
        shares.reset();
        messenger.reset();
        server.reset();
        saver.reset();
    }
    d.Reset();
    if (error)
        *error = failure;
    return failure.isEmpty();
}

QList<quint16> ClientDataFile::FreePorts(int count)
{
    // The system may offer again a port it offered before, once that one is
    // closed: two clients of one run given the same would find it taken by
    // whichever started first, and the other's peers would reach the wrong
    // one. Every listener stays open until the end, so that no port is
    // offered twice within one call.
    static QSet<quint16> given;
    std::vector<std::unique_ptr<QTcpServer>> listeners;
    QList<quint16> ports;
    for (int tries = 0; ports.size() < count && tries < count + 1000; ++tries) {
        listeners.push_back(std::make_unique<QTcpServer>());
        if (!listeners.back()->listen(QHostAddress::Any, 0))
            break;
        const quint16 port = listeners.back()->serverPort();
        if (!given.contains(port)) {
            given.insert(port);
            ports << port;
        }
    }
    return ports;
}
