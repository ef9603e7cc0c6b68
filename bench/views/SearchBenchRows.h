// The rows the search views' benchmarks fill pages with: the names of a
// user's folders and files, a reply's items made as peer messaging makes
// them, the same rows in a plain tree to measure against, and the spread
// of timed samples.
#pragma once

#include <QString>
#include <QTreeWidget>
#include <algorithm>
#include <vector>

#include "Data.h"

constexpr int kFoldersPerReply = 10;

struct Spread
{
    double p50 = 0, p95 = 0, max = 0;
};

inline Spread SpreadOf(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    Spread s;
    s.p50 = samples[samples.size() / 2];
    s.p95 = samples[std::min(samples.size() - 1, samples.size() * 95 / 100)];
    s.max = samples.back();
    return s;
}

inline const char* Verdict(bool met)
{
    return met ? "MET" : "MISSED";
}

inline QString FileName(int user, int folder, int file)
{
    static const char* const words[] = {"blue", "train", "night", "river", "gold", "moon", "rain", "stone"};
    return QString("%1 %2 %3-%4.mp3").arg(words[(user + file) % 8], words[(folder * 3 + file) % 8]).arg(file).arg(user);
}

inline QString FolderName(int user, int folder)
{
    return QString("music\\artist %1\\album %2").arg(user % 97).arg(folder);
}

// The items peer messaging makes of a reply, made directly so the page's
// own cost is what is timed.
inline ItemPtr MakeReply(unsigned int ticket, int user, int files, int folders = kFoldersPerReply)
{
    Data::Batch batch(&d);
    ItemPtr results = d.GetType("search_results")->NewItem();
    results += d.GetType("user")->GetItem(QString("user%1").arg(user));
    results += d.GetType("search_results_user_available")->GetItem(user % 3 == 0 ? "yes" : "no");
    results += d.GetType("search_results_user_speed")->GetItem(Value((user * 7919) % 500000));
    results += d.GetType("search_results_uploads_in_queue")->GetItem(Value(user % 17));
    const int perFolder = std::max(1, files / folders);
    for (int i = 0; i < files; ++i) {
        ItemPtr result = results.NewItem("search_result");
        result += d.GetType("search_result_file_name")->GetItem(FileName(user, i / perFolder, i));
        result += d.GetType("search_result_file_folder")->GetItem(FolderName(user, i / perFolder));
        result += d.GetType("file_size")->GetItem(Value(qint64(1000003) * (i + 1) * (user % 13 + 1)));
        result += d.GetType("bitrate")->GetItem(Value(128 + (i * 32) % 192));
    }
    d.GetType("search_request")->HasItem(Value(ticket)) += results;
    return results;
}

// The same rows in a plain tree: user, folder and file rows with the same
// texts.
inline void AddPlainReply(QTreeWidget* tree, int user, int files, bool flat, int folders = kFoldersPerReply)
{
    const int perFolder = std::max(1, files / folders);
    QTreeWidgetItem* userRow = nullptr;
    QTreeWidgetItem* folderRow = nullptr;
    if (!flat) {
        userRow = new QTreeWidgetItem(tree);
        userRow->setText(0, QString("user%1").arg(user));
        userRow->setText(1, QString::number(user % 17));
        userRow->setText(2, QString::number(((user * 7919) % 500000) / 1024.0, 'f', 1));
        userRow->setExpanded(true);
    }
    for (int i = 0; i < files; ++i) {
        QTreeWidgetItem* row;
        if (flat) {
            row = new QTreeWidgetItem(tree);
            row->setText(0, QString("user%1").arg(user));
            row->setText(1, QString::number(user % 17));
            row->setText(2, QString::number(((user * 7919) % 500000) / 1024.0, 'f', 1));
            row->setText(3, FolderName(user, i / perFolder));
        } else {
            if (i % perFolder == 0) {
                folderRow = new QTreeWidgetItem(userRow);
                folderRow->setText(3, FolderName(user, i / perFolder));
                folderRow->setExpanded(true);
            }
            row = new QTreeWidgetItem(folderRow);
        }
        row->setText(4, FileName(user, i / perFolder, i));
        row->setText(5, QString::number(qint64(1000003) * (i + 1) * (user % 13 + 1)));
        row->setText(6, QString::number(128 + (i * 32) % 192));
    }
}
