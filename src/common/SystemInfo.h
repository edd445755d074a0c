#pragma once

#include <functional>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace mirsalex {

class Prompt;

// The registry roots the program reads; only the machine's own is used.
enum class RegistryRoot
{
    LocalMachine,
};

// Registry access and the starting of programs: the About box's way to the
// system information tool. One small interface so that tests replace it
// (nothing is started and no registry is read in a test).
//
// This platform has no registry: every read fails, so the About box goes on
// to its disk search, which looks for kStrumentoInfoSistema in
// cartelleProgrammi().
class SystemInfo
{
public:
    virtual ~SystemInfo() = default;

    // Reads value `valueName` of key `keyPath` under `root` into `text`
    // (a text as it is, a 32-bit number as its decimal digits, without a
    // final character of code 0). True when the key could be opened and the
    // value read; otherwise `text` becomes empty and the result is false.
    virtual bool LeggiValoreRegistro(RegistryRoot root, const QString& keyPath, const QString& valueName,
                                     QString& text);

    // Starts `program` as a process of its own, in a normal window; the
    // program does not wait for it. False when it cannot be started (not
    // found, not executable).
    virtual bool avvia(const QString& program);

    // The folders the disk search goes through, in order, each depth first.
    virtual QStringList cartelleProgrammi() const;
};

// The desktop system information tool searched for on this platform (the
// "System Profiler and Benchmark" of the desktop; MSINFO32.EXE on Windows).
inline constexpr const char* kStrumentoInfoSistema = "hardinfo";

// Starts the system information tool found through the registry; on any
// failure sets `codErrore` to 1 and shows nothing (left unchanged on
// success; the caller sets it to 0 first).
void AvviaInfoSistema(SystemInfo& info, qint16& codErrore);

// What the disk search tells its caller about each folder it enters (for
// example to show it): the folder and its subfolders in the order they will
// be searched. Returning false stops the search (the window was closed).
using CartellaVisitata = std::function<bool(const QString& folder, const QStringList& subfolders)>;

// Searches `root` depth first for an ordinary file named `name` (the case
// of the name does not matter): each folder is tested with EsisteFile, so a
// medium not ready or a device error is explained and may be retried; then
// its subfolders are searched in name order. Hidden folders (names starting
// with a dot) are skipped, and a folder reached again through a link is not
// searched twice. Pending events run after each subfolder (the window stays
// responsive). Returns the full path of the first match, or the empty text.
QString CercaSuDisco(Prompt& prompt, const QString& root, const QString& name,
                     const CartellaVisitata& visit = {});

} // namespace mirsalex
