#pragma once

#include <QString>
#include <QtGlobal>

namespace mirsalex {

// Answer codes of a message box (the Windows values, kept because the
// stored answer is compared against them throughout the program).
enum Answer : int
{
    AnswerNone = 0,
    AnswerOk = 1,
    AnswerCancel = 2,
    AnswerAbort = 3,
    AnswerRetry = 4,
    AnswerIgnore = 5,
    AnswerYes = 6,
    AnswerNo = 7,
};

// Message-box style numbers: buttons in the low nibble, icon in the next one.
namespace MsgStyle {
constexpr int Ok = 0; // OK only, no icon
constexpr int OkCancel = 1;
constexpr int AbortRetryIgnore = 2;
constexpr int YesNoCancel = 3;
constexpr int YesNo = 4;
constexpr int RetryCancel = 5;
constexpr int IconCritical = 16;
constexpr int IconQuestion = 32;
constexpr int IconExclamation = 48;
constexpr int IconInformation = 64;

constexpr int Critical = IconCritical | Ok;                           // 16
constexpr int Question = IconQuestion | YesNo;                        // 36
constexpr int ExclamationOk = IconExclamation | Ok;                   // 48
constexpr int ExclamationOkCancel = IconExclamation | OkCancel;       // 49
constexpr int ExclamationRetryCancel = IconExclamation | RetryCancel; // 53

// The second button is the default one (Enter answers it).
constexpr int DefaultButton2 = 256;

constexpr int buttons(int style)
{
    return style & 0x0F;
}
constexpr int icon(int style)
{
    return style & 0xF0;
}
} // namespace MsgStyle

// The title a box shows when it has none of its own.
inline QString applicationTitle()
{
    return QStringLiteral("MirsalEX");
}

// Every message box of the program goes through this interface, so the core
// runs without a window: Qt message boxes in the window, a console prompt in
// batch mode, a scripted fake in tests.
class Prompt
{
public:
    virtual ~Prompt() = default;

    // Shows `text` with the given style; an empty title becomes the
    // application's title. Returns the answer code.
    int show(const QString& text, int style = MsgStyle::Ok, const QString& title = QString())
    {
        return ask(text, style, title.isEmpty() ? applicationTitle() : title);
    }

    // Lets pending window events run (a no-op without a window).
    virtual void processEvents() {}

    // Progress of long work (a merge of many rows, a document group of many
    // files, a large copy): `step` names it, `done` of `total` items (total 0
    // when not known). Called at the work's own safe points, possibly for
    // every item: a face shows it at a bounded rate. progressEnd() closes
    // the display when the work is over. Both do nothing by default.
    virtual void progress(const QString& step, qint64 done, qint64 total)
    {
        (void)step;
        (void)done;
        (void)total;
    }
    virtual void progressEnd() {}

protected:
    virtual int ask(const QString& text, int style, const QString& title) = 0;
};

} // namespace mirsalex
