#include "search/MobileCLIPModelManager.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStandardPaths>

QString MobileCLIPModelManager::modelsDirectory()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) base = QDir::tempPath();
    return base + "/Lumenkite/Models";
}

bool MobileCLIPModelManager::isInstalled()
{
    const QDir dir(modelsDirectory());
    for (const char *name : {kImageModelName, kTextModelName, kVocabName})
        if (!QFileInfo::exists(dir.filePath(QString::fromLatin1(name)))) return false;
    return true;
}

qint64 MobileCLIPModelManager::installedSizeBytes()
{
    qint64 total = 0;
    QDirIterator it(modelsDirectory(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isFile() && !info.isSymLink()) total += info.size();
    }
    return total;
}
