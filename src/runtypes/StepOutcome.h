#pragma once

#include <QString>
#include <QtGlobal>

namespace mirsalex {

// How one step of a run ended. The chain of a run only needs the 16-bit
// result (above zero after a failure the step has already reported); the run
// report needs the rest: whether the step was carried out, skipped and why,
// or stopped by the user's answer.
struct StepOutcome
{
    enum class Status
    {
        Done,    // carried out to the end
        Skipped, // not carried out: a path is empty or a file or folder is missing
        Stopped, // ended early by the user's answer to a question
        Failed,  // ended by an error, already reported to the user
    };

    Status status = Status::Done;
    qint16 error = 0; // the error number of a failure, 0 otherwise
    QString reason;   // why it was skipped, stopped or failed, for the report
    QString path;     // the missing file or folder of a skip, when there is one
    // A failure after which the chain still goes on (the step's result is 0):
    // the failed copy of a merged database, for one.
    bool chainGoesOn = false;

    // The step's result as the chain tests it: above zero after a failure
    // that ends the chain.
    qint16 result() const
    {
        return status == Status::Failed && !chainGoesOn ? qint16(error > 0 ? error : 1) : qint16(0);
    }
    bool failed() const { return status == Status::Failed; }

    static StepOutcome done() { return {}; }
    static StepOutcome skipped(QString why, QString missing = QString())
    {
        return {Status::Skipped, 0, std::move(why), std::move(missing)};
    }
    static StepOutcome stopped(QString why) { return {Status::Stopped, 0, std::move(why), QString()}; }
    static StepOutcome failure(qint16 number, QString why = QString())
    {
        return {Status::Failed, number, std::move(why), QString()};
    }
    static StepOutcome failureGoingOn(qint16 number, QString why)
    {
        return {Status::Failed, number, std::move(why), QString(), true};
    }
};

} // namespace mirsalex
