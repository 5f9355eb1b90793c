#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <string_view>

// File names are bytes; most are UTF-8, but not all. A name that is not valid UTF-8 keeps
// each byte that does not decode as one lone low surrogate (U+DC80..U+DCFF), so the text
// form of a path always maps back to the exact bytes on disk and two such names never
// collapse into one. Every system call on a library path goes through `encodeFileName`.
namespace FileNames {

QString decode(std::string_view bytes);
inline QString decode(const QByteArray &bytes) { return decode(std::string_view(bytes.constData(), size_t(bytes.size()))); }
inline QString decode(const char *bytes) { return decode(std::string_view(bytes)); }
QByteArray encode(QStringView path);

// True when `text` holds bytes that are not UTF-8 (as made by `decode`).
bool hasRawBytes(QStringView text);
// The form to show on one line: each raw byte drawn as U+FFFD, each line break as "⏎" and
// other control characters as U+FFFD (a name may hold any of them).
QString display(const QString &text);

// Opens `path` for reading without blocking (a FIFO or device would hang a reader) and
// returns the descriptor only when it is a regular file; -1 with errno set otherwise
// (EINVAL for anything that is not a regular file).
int openRegularFile(const QString &path);
// Whether `path` is a regular file, checked as `openRegularFile` does; `error` gets the
// errno when it is not.
bool isRegularFile(const QString &path, int *error = nullptr);

} // namespace FileNames
