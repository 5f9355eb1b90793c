#include "search/AnalysisEngines.h"

#include "search/CompanionFiles.h"

#include <QFile>

#include <dlfcn.h>

const AnalysisEngines *analysisEngines()
{
    static const AnalysisEngines *const engines = []() -> const AnalysisEngines * {
        const QString path = findCompanionFile(QStringLiteral("lumenkite-analysis.so"),
                                               QStringLiteral(LK_ANALYSIS_MODULE_PATH), false);
        if (path.isEmpty()) {
            qWarning("the analysis module lumenkite-analysis.so was not found: no faces, text or speech are recognised");
            return nullptr;
        }
        // Kept loaded for the program's life: its engines live in thread-local storage.
        void *module = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            qWarning("cannot load %s: %s", qUtf8Printable(path), dlerror());
            return nullptr;
        }
        using Entry = const AnalysisEngines *(*)(int);
        const auto entry = reinterpret_cast<Entry>(dlsym(module, "lumenkite_analysis_engines"));
        const AnalysisEngines *table = entry ? entry(kAnalysisEnginesVersion) : nullptr;
        if (!table) qWarning("%s is not this program's analysis module", qUtf8Printable(path));
        return table;
    }();
    return engines;
}
