#pragma once
// The real window on the simulated readers, with its modal boxes and file dialogs
// captured, for the tests of the current, constant-lumen, colour-temperature and
// configuration-file panels.

#include "app/readerbackends.h"
#include "app/vantory.h"
#include "readers/myhid.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"
#include "widgets/noticewidget.h"
#include "testaccess.h"

#include <QAction>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>
#include <QtTest>
#include <memory>


namespace panels
{

inline void putU16(QByteArray& b, int offset, uint16_t v)
{
    b[offset] = char(v >> 8);
    b[offset + 1] = char(v & 0xFF);
}

inline uint16_t u16(const QByteArray& b, int offset)
{
    return uint16_t(uint8_t(b.at(offset)) << 8 | uint8_t(b.at(offset + 1)));
}

inline uint16_t u16(const TagImage::Bytes& b, int offset)
{
    return uint16_t(b[size_t(offset)] << 8 | b[size_t(offset) + 1]);
}

inline QByteArray bytesOf(const TagImage::Bytes& b)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()));
}

inline void putTimes(QByteArray& b, const QVector<int>& times)
{
    for (int i = 0; i < times.size() && i < 16; ++i)
        b[284 + i] = char(times[i]);
}

inline void putModel(QByteArray& b, const QByteArray& model)
{
    for (int i = 0; i < 32; ++i)
        b[195 + i] = i < model.size() ? model[i] : '\0';
}

/// A layout-2 driver image: the DT8 demo driver with the given type and byte 89.
inline QByteArray layout2Image(uint8_t type = 0x08, uint8_t byte89 = 1)
{
    QByteArray b = demodrivers::memory(demodrivers::Kind::Dt8);
    b[183] = 2;
    b[192] = char(type);
    b[89] = char(byte89);
    return b;
}

/// A legacy-layout driver image with per-channel ranges and currents.
inline QByteArray legacyImage(uint8_t type, uint8_t byte89)
{
    QByteArray b = demodrivers::memory(demodrivers::Kind::Legacy3Ch);
    b[183] = 3;
    b[192] = char(type);
    b[89] = char(byte89);
    return b;
}

struct DialogCall {
    Vantory::FileDialogMode mode;
    QString caption;
    QString proposed;
    QString filter;
};

struct Bench {
    ReaderField field;
    SimR321 r321{&field};
    SimFeig feig{&field};
    QTemporaryDir dir;
    QStringList boxes; // "caption|text" of every modal box
    QString nextPath;  // what the next file dialog returns ("" = cancelled)
    QVector<DialogCall> dialogs;
    std::unique_ptr<Vantory> w;

    Bench()
    {
        w = std::make_unique<Vantory>(ReaderBackends{&r321, &feig, true});
        w->setModalHook([this](const QString& caption, const QString& text) {
            boxes << caption + QLatin1Char('|') + text;
        });
        w->setFileDialogHook([this](Vantory::FileDialogMode mode, const QString& caption,
                                    const QString& proposed, const QString& filter) {
            dialogs.append({mode, caption, proposed, filter});
            return nextPath;
        });
    }
    ~Bench() { w.reset(); }

    Vantory& win() { return *w; }
    const TagImage& image() { return TestAccess::image(*w); }

    /// Shows the window and lets the first clock tick put the table into the image.
    bool start()
    {
        w->resize(1400, 1000);
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get()))
            return false;
        return QTest::qWaitFor([this] { return TestAccess::cloChartReady(*w); }, 3000);
    }

    template <typename T> T* child(const char* name)
    {
        T* found = w->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qWarning("no child %s", name);
        return found;
    }

    bool visible(const char* name) { return child<QWidget>(name)->isVisibleTo(w.get()); }
    QString text(const char* name) { return child<QLabel>(name)->text(); }

    QString path(const QString& name) { return dir.filePath(name); }

    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        const QString p = path(name);
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qWarning("cannot write %s", qPrintable(p));
        return p;
    }

    static QByteArray readFile(const QString& p)
    {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void trigger(const char* action) { child<QAction>(action)->trigger(); }

    /// Opens the given path through the Read File action.
    void openPath(const QString& p)
    {
        nextPath = p;
        trigger("actionOpen_BIN_configure");
    }

    /// Writes the bytes to a file and opens it through the Read File action.
    void openBytes(const QByteArray& bytes, const QString& name = QStringLiteral("in.bin"))
    {
        openPath(writeFile(name, bytes));
    }

    /// Saves through the Save File action to the given path.
    void savePath(const QString& p)
    {
        nextPath = p;
        trigger("actionSave_BIN_configure");
    }
};

} // namespace panels
