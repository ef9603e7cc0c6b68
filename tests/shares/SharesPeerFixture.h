#pragma once

#include <QString>

#include "ItemPtr.h"
#include "PeerEngineFixture.h"

class DNetManager;
class FakePeer;
class FakeWire;
class FakePeerLink;
class SharedFoldersManager;

// The shared-folders manager among the real engines it answers through:
// the client's server connection logged in as "me" to the loopback test
// server, peer messaging on 127.0.0.1 and the distributed-network manager,
// with fake peers to ask it things and a temporary folder for trees.
class SharesPeerFixture : public PeerEngineFixture
{
public:
    SharesPeerFixture();
    ~SharesPeerFixture();
    SharesPeerFixture(const SharesPeerFixture&) = delete;
    SharesPeerFixture& operator=(const SharesPeerFixture&) = delete;

    // A file of size bytes of "x", so the MP3 analysis finds no frames.
    QString WriteFile(const QString& relative, int size) const;
    // Shares a folder below the temporary folder, made when missing.
    ItemPtr Share(const QString& relative);
    // RescanShares, then the wait for its report; false when none came.
    bool Rescan() const;

    // A public share of folders x files made in the store as a scan leaves
    // them ("<root>/Set <n>", every name holding the word "many", some with
    // a bitrate); returns the share.
    ItemPtr ShareMany(const QString& root, int folders, int files);

    // A search relayed by the test server from the fake peer (a user search
    // aimed at us); 1 when answered, 0 when not, -1 when the search did not
    // arrive within half a minute.
    int Search(FakePeer* from, quint32 token, const QString& text);

    // One file record of a reply as "name|size|extension|code=value,...";
    // empty when it does not read.
    static QString ReadRecord(FakeWire& in);

    DNetManager* dnet = nullptr;
    SharedFoldersManager* manager = nullptr;
};
