#include "FolderPath.h"

#include <vector>

struct FolderPath::Below {
    mutable FolderPath parent; // given up when this part is taken apart
    QString names;
    qsizetype size = 0; // of the whole path

    Below(FolderPath up, QString below)
        : parent(std::move(up)), names(std::move(below)), size(parent.size() + 1 + names.size()) {}

    // A chain of parts is taken apart one part at a time: letting each part release its
    // parent from its own destructor would nest as deep as the chain and run out of stack.
    ~Below()
    {
        std::shared_ptr<const Below> up = std::move(parent.m_below);
        while (up && up.use_count() == 1) {
            std::shared_ptr<const Below> next = std::move(up->parent.m_below);
            up = std::move(next);
        }
    }
};

FolderPath::FolderPath(QString path) : m_whole(std::move(path)) {}

FolderPath::FolderPath(const FolderPath &parent, const QString &below)
{
    if (parent.isKeptWhole() && parent.size() + 1 + below.size() <= kKeptLength) {
        m_whole.reserve(parent.size() + 1 + below.size());
        m_whole += parent.m_whole;
        m_whole += QLatin1Char('/');
        m_whole += below;
    } else {
        m_below = std::make_shared<const Below>(parent, below);
    }
}

qsizetype FolderPath::size() const { return m_below ? m_below->size : m_whole.size(); }

QString FolderPath::toString() const
{
    if (!m_below)
        return m_whole;
    std::vector<const Below *> chain;
    const FolderPath *at = this;
    for (; at->m_below; at = &at->m_below->parent)
        chain.push_back(at->m_below.get());
    QString path;
    path.reserve(size());
    path += at->m_whole;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        path += QLatin1Char('/');
        path += (*it)->names;
    }
    return path;
}
