#pragma once
// What every fuzz target does with a broken invariant: print it and abort, so that
// libFuzzer keeps the input as a crash.

#include <QByteArray>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

namespace fuzzharness
{

inline void abortOnFailures(const QStringList& failures, const QByteArray& input)
{
    if (failures.isEmpty())
        return;
    for (const QString& f : failures)
        std::fprintf(stderr, "invariant broken: %s\n", qPrintable(f));
    std::fprintf(stderr, "input: %s\n", input.toHex().constData());
    std::abort();
}

} // namespace fuzzharness
