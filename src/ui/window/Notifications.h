#pragma once

#include <QObject>

// The one notice the program posts between its parts: "focus the search field". Menu
// commands post it; the main window focuses the tree pane's search field on it.
class Notifications : public QObject {
    Q_OBJECT
public:
    static constexpr const char *focusSearchFieldName = "Lumenkite.focusSearchField";
    // Made on first use and shared by everyone.
    static Notifications &center();
    static void postFocusSearchField() { emit center().focusSearchField(); }

signals:
    void focusSearchField();

private:
    Notifications() = default;
};
