#pragma once

// The parts of the analysis module that live in files of their own.

#include "search/AnalysisEngines.h"

// The en-US pocketsphinx decoder; null when its model is not installed.
SpeechDecoder *createEnglishSpeech();
