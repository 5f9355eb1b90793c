#pragma once

// Starts reading the font configuration and its caches on a thread of its own, so that it
// is ready when the first window measures its first text instead of being read then, while
// the application object is still being set up. Call once, first thing in main().
void startFontConfigurationLoad();
