// The download path builder with a peer's folder and file name: whatever
// they hold, a path it accepts lies strictly inside the download folder.
#include "DownloadPaths.h"
#include "FuzzSupport.h"

#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t flags = data[0];
    // The remote folder and the file name, split at the first zero byte.
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t split = rest.find('\0');
    const std::string remoteFolder = rest.substr(0, split);
    const std::string fileName = split == std::string::npos ? std::string("file") : rest.substr(split + 1);

    static const QString folders[] = {"/home/user/Downloads", "/home/user/Down loads/", "C:\\Users\\me\\Downloads"};
    DownloadPaths::Options options;
    options.downloadFolder = folders[(flags >> 5) % 3];
    options.dontSplit = flags & 1;
    options.flattenSingle = flags & 2;
    const int level = (flags >> 2) & 7;
    const bool single = flags & 0x80;
    for (bool complete : {false, true}) {
        const QString path =
            DownloadPaths::TargetPath(options, !remoteFolder.empty(), remoteFolder, level, single, fileName, complete);
        if (path.isEmpty())
            continue;
        const QString folder = QDir::cleanPath(DownloadPaths::Local(options.downloadFolder).replace('\\', '/'));
        const QString local = QDir::cleanPath(DownloadPaths::Local(path));
        fuzz::Require(local.startsWith(folder + "/") && local.size() > folder.size() + 1);
        fuzz::Require(!local.split('/').contains(".."));
        fuzz::Require(!local.contains(QChar(0)));
    }
    DownloadPaths::SafeSubfolders(remoteFolder, level);
    DownloadPaths::KeptSubfolders(remoteFolder, level);
    return 0;
}
