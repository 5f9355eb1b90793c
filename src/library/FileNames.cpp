#include "FileNames.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileNames {

namespace {

constexpr char16_t kRawByteBase = 0xDC00;

// A low surrogate that is not the second half of a pair.
bool isRawByte(QStringView text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    return c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !text[i - 1].isHighSurrogate());
}

// Length of the well-formed UTF-8 sequence at `p` (RFC 3629: no overlongs, no surrogates,
// nothing above U+10FFFF), or 0.
size_t sequenceLength(const unsigned char *p, size_t left)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (left < n || p[1] < lo || p[1] > hi)
        return 0;
    for (size_t i = 2; i < n; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return n;
}

} // namespace

QString decode(std::string_view bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const size_t size = bytes.size();
    size_t i = 0;
    while (i < size && p[i] < 0x80)
        ++i;
    if (i == size)
        return QString::fromLatin1(bytes.data(), qsizetype(size));
    QString out;
    out.reserve(qsizetype(size));
    size_t run = 0; // start of the pending well-formed run
    while (i < size) {
        const size_t n = sequenceLength(p + i, size - i);
        if (n) {
            i += n;
            continue;
        }
        out += QString::fromUtf8(bytes.data() + run, qsizetype(i - run));
        out += QChar(char16_t(kRawByteBase + p[i]));
        ++i;
        run = i;
    }
    out += QString::fromUtf8(bytes.data() + run, qsizetype(size - run));
    return out;
}

QByteArray encode(QStringView path)
{
    if (!hasRawBytes(path))
        return path.toUtf8();
    QByteArray out;
    out.reserve(path.size() * 2);
    qsizetype run = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (!isRawByte(path, i))
            continue;
        out += path.mid(run, i - run).toUtf8();
        out += char(path[i].unicode() - kRawByteBase);
        run = i + 1;
    }
    out += path.mid(run).toUtf8();
    return out;
}

bool hasRawBytes(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (isRawByte(text, i))
            return true;
    return false;
}

QString display(const QString &text)
{
    const auto isControl = [](char16_t c) {
        return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
    };
    bool plain = true;
    for (qsizetype i = 0; i < text.size() && plain; ++i)
        plain = !isControl(text[i].unicode()) && !isRawByte(text, i);
    if (plain)
        return text;
    QString out = text;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029)
            out[i] = QChar(0x23CE);
        else if (isControl(c) || isRawByte(text, i))
            out[i] = QChar(QChar::ReplacementCharacter);
    }
    return out;
}

int openRegularFile(const QString &path)
{
    const QByteArray native = encode(path);
    // Only what its name shows to be a regular file is opened: even an open that does not wait
    // connects a FIFO's writer to us. The descriptor is checked again, for a swap in between.
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool isRegularFile(const QString &path, int *error)
{
    const int fd = openRegularFile(path);
    if (fd < 0) {
        if (error)
            *error = errno;
        return false;
    }
    ::close(fd);
    return true;
}

} // namespace FileNames
