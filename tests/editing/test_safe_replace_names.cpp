// The replace steps act on the exact bytes of a name that is not UTF-8: never on the file
// whose name spells the same text with U+FFFD.

#include "support/TestSupport.h"

#include "editing/SafeReplace.h"
#include "library/FileNames.h"

#include <gtest/gtest.h>

#include <QDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void writeBytes(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    ::close(fd);
}

QByteArray readBytes(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "<missing>";
    char buffer[64] = {};
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    return QByteArray(buffer, int(std::max<ssize_t>(0, n)));
}

} // namespace

TEST(SafeReplaceNames, RenameMovesTheFileOfTheExactBytes)
{
    const QString folder = lktest::sandboxRoot() + "/safe-replace-bytes";
    QDir().mkpath(folder);
    const QByteArray dir = FileNames::encode(folder);
    writeBytes(dir + "/x\xff.mp4", "raw");
    writeBytes(dir + "/x\xef\xbf\xbd.mp4", "decoy");

    QString error;
    ASSERT_TRUE(SafeReplace::realFileSteps()->rename(FileNames::decode(dir + "/x\xff.mp4"),
                                                     FileNames::decode(dir + "/y\xfe.mp4"), &error))
        << error.toStdString();
    EXPECT_EQ(readBytes(dir + "/y\xfe.mp4"), "raw");
    EXPECT_EQ(readBytes(dir + "/x\xff.mp4"), "<missing>");
    EXPECT_EQ(readBytes(dir + "/x\xef\xbf\xbd.mp4"), "decoy");
}
