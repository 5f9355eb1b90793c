#include "search/CompanionFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

bool usable(const QString &path, bool executable)
{
    const QFileInfo info(path);
    return info.isFile() && (!executable || info.isExecutable());
}

} // namespace

QString findCompanionFile(const QString &name, const QString &buildCopy, bool executable)
{
    QString programDir;
    if (QCoreApplication::instance()) {
        programDir = QCoreApplication::applicationDirPath();
        const QString beside = programDir + "/" + name;
        if (usable(beside, executable)) return beside;
#ifdef LK_COMPANION_INSTALL_DIR
        // Relative to the program's own folder, so that any prefix (or a staging DESTDIR) works.
        const QString installed = QDir::cleanPath(programDir + "/" LK_COMPANION_INSTALL_DIR "/" + name);
        if (usable(installed, executable)) return installed;
#endif
    }
#ifdef LK_BUILD_DIR
    // An installed program must never pick up a file from some developer's build tree.
    const QString buildDir = QStringLiteral(LK_BUILD_DIR);
    const bool inBuildTree = programDir.isEmpty() || programDir == buildDir || programDir.startsWith(buildDir + "/");
    if (inBuildTree && !buildCopy.isEmpty() && usable(buildCopy, executable)) return buildCopy;
#endif
    return {};
}
