#pragma once

#include <QString>

#include <memory>

// A folder's path as its tree holds it. A path up to the system's own limit for a path is
// kept whole; a longer one is kept as its parent's path and the names below it, so every
// folder of a chain nested tens of thousands deep costs its own name, not its whole path
// (whole paths held at every level would cost the square of the depth). Copies share what
// they hold; a value never changes.
class FolderPath
{
public:
    // Paths up to this length are kept whole.
    static constexpr qsizetype kKeptLength = 4096;

    FolderPath() = default;
    // `path`, kept whole whatever its length.
    explicit FolderPath(QString path);
    // `parent`'s path, '/' and `below` (one name, or several joined by '/').
    FolderPath(const FolderPath &parent, const QString &below);

    // The whole path, put together when it is not kept whole.
    QString toString() const;
    qsizetype size() const;
    bool isEmpty() const { return size() == 0; }
    // Whether the path is held as one string (a copy of it costs no more than a reference).
    bool isKeptWhole() const { return !m_below; }

private:
    struct Below;
    QString m_whole;                     // when kept whole
    std::shared_ptr<const Below> m_below; // otherwise
};
