#pragma once

#include "cli/options.h"

// The commands that work on a reader or a configuration file; the record's two are in
// recordcommands.h. Each returns the exit code.
namespace cli
{

struct Environment;

/// vantory-cli readers [--json]
int cmdReaders(Environment& env, Parsed& p);
/// vantory-cli info FILE.bin [--json]
int cmdInfo(Environment& env, Parsed& p);
/// vantory-cli read [-o FILE.bin|-] [--json] [--quiet]
int cmdRead(Environment& env, Parsed& p);
/// vantory-cli write FILE.bin [--current CH=MA]... [--json]
int cmdWrite(Environment& env, Parsed& p);
/// vantory-cli auto-write FILE.bin [--count N] [--json]
int cmdAutoWrite(Environment& env, Parsed& p);

} // namespace cli
