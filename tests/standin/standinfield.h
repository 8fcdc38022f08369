#pragma once

// The field behind a stand-in reader library: the tags it presents come from files, so
// that a test can lay a driver, run the program as its own process and look at the tag's
// memory afterwards.
//
// The environment variable names the tag files, separated by ':'. A tag file holds the
// UID (8 bytes, most significant first) and the tag's user memory after it; the memory is
// written back after every request that changed it. The first tag lies on the reader from
// the start. When more files are listed, each tag but the last is taken away as its beep
// ends (as an operator lifts the driver), and the next one is laid after two inventories
// have found the reader empty.
//
// The variable with "_PULLED" after its name names a file: while that file exists, the
// reader is pulled out (not listed, its handle dead), so that a test can pull one reader
// of a program that runs as its own process.
#include "readers/sim/readerfield.h"

#include <QMutex>
#include <QStringList>
#include <memory>

class StandinField
{
  public:
    StandinField(const char* tagListVariable, SimReaderKind kind);

    ReaderField* field() { return &m_field; }
    /// Pulls the reader out or plugs it back as the "_PULLED" file says.
    void followPlug();

    /// Before every request: when the variable names other files than it did, their tags
    /// take the place of the ones laid, so that one test program can lay other drivers.
    void beforeRequest();
    /// After every request the simulated reader has taken; `beeperOn` is its beeper state.
    void afterRequest(bool beeperOn);

  private:
    void layNext();
    void save();

    QMutex m_mutex;
    ReaderField m_field;
    const char* m_variable;
    const SimReaderKind m_kind;
    QByteArray m_pulledVariable;
    QString m_list;
    QStringList m_files;
    int m_next = 0; // index of the next file to lay
    std::shared_ptr<VirtualTag> m_tag;
    QByteArray m_saved;
    bool m_beeper = false;
    bool m_waitingForNext = false;
    int m_emptyInventories = 0;
};
