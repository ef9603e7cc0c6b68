#pragma once

#include <QString>
#include <QTemporaryDir>

#include "ItemPtr.h"
#include "PeerFixture.h"

class DNetManager;
class FakePeer;
class FakeWire;
class FakePeerLink;
class SharedFoldersManager;

// The shared-folders manager among the real engines it answers through:
// the client's server connection logged in as "me" to the loopback test
// server, peer messaging on 127.0.0.1 and the distributed-network manager,
// with fake peers to ask it things and a temporary folder for trees.
class SharesPeerFixture
{
public:
    SharesPeerFixture();
    ~SharesPeerFixture();
    SharesPeerFixture(const SharesPeerFixture&) = delete;
    SharesPeerFixture& operator=(const SharesPeerFixture&) = delete;

    // Logs in and listens; true once both are done.
    bool Start();
    // A fake peer, logged in, with a message connection that it opened to
    // us and that we have registered; null when any of it fails.
    FakePeerLink* LinkedPeer(const QString& name);

    QString Path(const QString& relative) const;
    // A file of size bytes of "x", so the MP3 analysis finds no frames.
    QString WriteFile(const QString& relative, int size) const;
    // Shares a folder below the temporary folder, made when missing.
    ItemPtr Share(const QString& relative);
    // The remote form of a path below the temporary folder.
    QString Remote(const QString& relative) const;

    // A search relayed by the test server from the fake peer (a user search
    // aimed at us); 1 when answered, 0 when not, -1 when the search did not
    // arrive within five seconds.
    int Search(FakePeer* from, quint32 token, const QString& text);

    // One file record of a reply as "name|size|extension|code=value,...";
    // empty when it does not read.
    static QString ReadRecord(FakeWire& in);

    PeerFixture net;
    DNetManager* dnet = nullptr;
    SharedFoldersManager* manager = nullptr;

private:
    QTemporaryDir m_dir;
};
