// The MP3 analysis: the input as a file and as bytes in memory must give
// the same answer, field by field.
#include "FuzzSupport.h"
#include "Mp3Analyzer.h"

#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QByteArray bytes = fuzz::Bytes(data, size);
    const QString path = dir.filePath("input.mp3");
    {
        QFile file(path);
        fuzz::Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        fuzz::Require(file.write(bytes) == bytes.size());
    }
    Mp3Analyzer::Result fromFile, fromMemory;
    const bool fileOk = Mp3Analyzer::AnalyzeFile(path, fromFile);
    const bool memoryOk = Mp3Analyzer::AnalyzeBytes(bytes, fromMemory);
    fuzz::Require(fileOk == memoryOk);
    if (fileOk) {
        fuzz::Require(fromFile.mpegVersion == fromMemory.mpegVersion);
        fuzz::Require(fromFile.channelMode == fromMemory.channelMode);
        fuzz::Require(fromFile.frequency == fromMemory.frequency);
        fuzz::Require(fromFile.isVBR == fromMemory.isVBR);
        fuzz::Require(fromFile.bitrate == fromMemory.bitrate);
        fuzz::Require(fromFile.mpegVersion == 1 || fromFile.mpegVersion == 2);
    }
    return 0;
}
