#pragma once

#include "library/L10n.h"

// A text named once and shown later, by a service and off the GUI thread too: looked up each
// time it is read, in the interface language of that moment.
struct L10nText {
    const char *key;
    QString text() const { return L10n::text(QLatin1String(key)); }
    operator QString() const { return text(); }
};
