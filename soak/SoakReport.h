// One line of figures per check, in the form scripts/run-soak.sh gathers into its table:
//   SOAK <check> | inputs <n> | crashes <n> | lost <n> | <free-form figures>
// `crashes` counts runs of the program under test that died; `lost` counts files whose
// original content could not be found afterwards (in place or in the Trash).
#pragma once

#include <cstdio>
#include <string>

struct SoakReport {
    std::string check;
    long inputs = 0;
    long crashes = 0;
    long lost = 0;
    std::string figures;

    void print() const
    {
        std::printf("SOAK %s | inputs %ld | crashes %ld | lost %ld | %s\n", check.c_str(), inputs,
                    crashes, lost, figures.c_str());
        std::fflush(stdout);
    }
    // Exit status for the program: a check fails when anything crashed or was lost.
    int status() const { return crashes == 0 && lost == 0 ? 0 : 1; }
};
