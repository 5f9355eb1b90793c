#pragma once

// The inspector as the main window's right pane. The window may drop and later recreate
// its pane when the panel is closed and opened again; the inspector itself, with its player
// controller, is made once per application state and only moves between the panes.

class AppState;
class InspectorPlayerView;
class QWidget;

// A fresh pane holding the state's one inspector.
QWidget *makeInspectorPane(AppState *state, QWidget *parent);
// The state's inspector, made on first use; it lives as long as the state.
InspectorPlayerView *inspectorFor(AppState *state);
