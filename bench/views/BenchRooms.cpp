// The rooms views under load, each figure against a baseline doing the same
// work in the same run:
// - a busy room's view at its cap: 10,000 chat lines appended to a view
//   already full, each line measured with the events it leaves (layout and
//   paint) processed, against the same lines appended to an empty view with
//   no cap; the worst single line is the stall a user would feel;
// - the room log: lines per second written as the room page writes them
//   (folder made, file opened, appended and closed per line) against the
//   same lines written to one file kept open;
// - the room list: a server's list of 10,000 rooms arriving at once, rows
//   made, counted and sorted by the rooms page, against plain rows with the
//   same texts in a sorted tree.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>

#include "BenchSupport.h"
#include "Data.h"
#include "NoGateway.h"
#include "Server.h"
#include "Settings.h"
#include "rooms/ChatBrowser.h"
#include "rooms/ChatText.h"
#include "rooms/RoomsForm.h"

namespace
{
const int Lines = 10000;
const int Rooms = 10000;
const double StallAim = 0.050;
const double ListStallAim = 0.100;
const double LogLinesAim = 2000;

struct Stalls
{
    double worst = 0;
    double total = 0;
};

QString Line(int i)
{
    return ChatText::ChatLineHtml(QString("user%1").arg(i % 37),
                                  QString("message %1 with a link http://example.org/page?id=%1&x=2 and some words")
                                      .arg(i));
}

// Appends the lines, each followed by the events it caused.
Stalls Append(QTextEdit* view, bool capped)
{
    Stalls stalls;
    for (int i = 0; i < Lines; ++i)
    {
        QElapsedTimer timer;
        timer.start();
        const QString html = Line(i);
        if (capped)
            ChatText::AppendCapped(view, html);
        else
            view->append(html);
        QApplication::processEvents();
        const double seconds = Seconds(timer);
        stalls.worst = std::max(stalls.worst, seconds);
        stalls.total += seconds;
    }
    return stalls;
}

const char* Verdict(bool met)
{
    return met ? "MET" : "MISSED";
}

void CappedView()
{
    ChatBrowser empty;
    empty.resize(600, 400);
    empty.show();
    const Stalls baseline = Append(&empty, false);

    ChatBrowser full;
    full.resize(600, 400);
    full.show();
    // Filled until the cap has cut it once, so every line meets a full view.
    for (int i = 0; full.document()->toHtml().size() < ChatText::ViewCap; ++i)
        full.append(Line(i));
    const Stalls capped = Append(&full, true);

    std::printf("  capped view, %d lines: worst line %.1f ms, mean %.2f ms\n", Lines, capped.worst * 1e3,
                capped.total / Lines * 1e3);
    std::printf("  empty view, no cap:     worst line %.1f ms, mean %.2f ms\n", baseline.worst * 1e3,
                baseline.total / Lines * 1e3);
    std::printf("  worst line %.1fx the empty view's; aim under %.0f ms: %s\n", capped.worst / baseline.worst,
                StallAim * 1e3, Verdict(capped.worst < StallAim));
}

void RoomLog()
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QStringList lines;
    for (int i = 0; i < Lines; ++i)
        lines << ChatText::ChatLogLine(QString("user%1").arg(i % 37), QString("message %1 with some words").arg(i));

    const double logged = BestOf(3, [&] {
        QFile::remove(ChatText::LogPath(ChatText::Log::Room, "lobby"));
        QElapsedTimer timer;
        timer.start();
        for (const QString& line : lines)
            ChatText::LogChat(ChatText::Log::Room, "lobby", line);
        return Seconds(timer);
    });
    const double plain = BestOf(3, [&] {
        QFile file(home.path() + "/plain.log");
        QElapsedTimer timer;
        timer.start();
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        for (const QString& line : lines)
        {
            file.write(line.toUtf8());
            file.write("\n", 1);
        }
        file.close();
        return Seconds(timer);
    });
    const double rate = Lines / logged;
    std::printf("  room log: %.0f lines/s; one open file: %.0f lines/s (%.1fx slower)\n", rate, Lines / plain,
                logged / plain);
    std::printf("  aim at least %.0f lines/s: %s\n", LogLinesAim, Verdict(rate >= LogLinesAim));
}

void RoomList()
{
    RoomsForm page;
    page.resize(800, 600);
    page.show();
    page.Init();
    QApplication::processEvents();
    Type* room = d.GetType("room");
    Type* count = d.GetType("user_count");

    QElapsedTimer timer;
    timer.start();
    {
        Data::Batch batch(&d);
        for (int i = 0; i < Rooms; ++i)
        {
            ItemPtr item = room->GetItem(QString("room %1").arg((i * 7919) % Rooms));
            item += count->GetItem(Value(i % 500));
            if (i % 100 == 0)
                item.NewItem("is_member");
        }
    }
    QApplication::processEvents();
    const double listed = Seconds(timer);

    QTreeWidget plain;
    plain.setColumnCount(2);
    plain.setSortingEnabled(true);
    plain.sortItems(0, Qt::AscendingOrder);
    plain.resize(800, 600);
    plain.show();
    QApplication::processEvents();
    timer.restart();
    for (int i = 0; i < Rooms; ++i)
    {
        auto* row = new QTreeWidgetItem(&plain);
        row->setText(0, QString("room %1").arg((i * 7919) % Rooms));
        row->setText(1, QString::number(i % 500));
    }
    QApplication::processEvents();
    const double baseline = Seconds(timer);

    std::printf("  room list of %d rooms: %.1f ms; plain sorted tree: %.1f ms (%.1fx)\n", Rooms, listed * 1e3,
                baseline * 1e3, listed / baseline);
    std::printf("  aim no stall over %.0f ms: %s\n", ListStallAim * 1e3, Verdict(listed < ListStallAim));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    DeclareSettingTypes();
    Server* server = new Server(new NoGateway);
    server->CreateData();
    Type* chatLogForm = d.NewType("chat_log_form", 0, false, true);
    chatLogForm->RelateToType(d.GetType("room"), one, one, false);
    chatLogForm->RelateToType(d.GetType("user"), one, one, false);
    SetSetting("chat_timestamps", "per_message_short");
    SetSetting("log_room_chat", "yes");
    SetSetting("color_chat_username", "#0033ff");
    SetSetting("color_chat_timestamp", "#0066ff");
    SetSetting("color_chat_status", "#339933");

    std::printf("Rooms views\n");
    CappedView();
    RoomLog();
    RoomList();
    delete server;
    return 0;
}
