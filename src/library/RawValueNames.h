#pragma once

// The stored names of an enum's cases, written once as a table of {case, "name"} in the
// order the cases are offered; `allCases`, `rawValue` and `fromRawValue` follow from it.
// Names are matched exactly ("hevcHigh", not "HEVCHigh").

#include <QList>
#include <QString>

#include <optional>

template <class E> struct RawName {
    E value;
    const char *name;
};

template <auto &Names> struct RawValueNames {
    using Enum = decltype(Names[0].value);

    static const QList<Enum> &allCases()
    {
        static const QList<Enum> all = [] {
            QList<Enum> cases;
            for (const auto &n : Names) cases.append(n.value);
            return cases;
        }();
        return all;
    }
    static QString rawValue(Enum value)
    {
        for (const auto &n : Names)
            if (n.value == value) return QString::fromLatin1(n.name);
        return {};
    }
    static std::optional<Enum> fromRawValue(const QString &raw)
    {
        for (const auto &n : Names)
            if (raw == QLatin1String(n.name)) return n.value;
        return std::nullopt;
    }
};
