#include "changes/WithheldChanges.h"

#include "support/TempInstall.h"

#include <gtest/gtest.h>
#include <QDateTime>

namespace mirsalex {
namespace {

using test::TempInstall;

// A dry run answers the times a caller read in a listing as its withheld
// copies would have left them: a replaced file carries its source's time,
// any other keeps the one read.
TEST(WithheldChanges, ListedTimesAreAnsweredAsTheCopiesLeftThem)
{
    TempInstall inst;
    const QDateTime old(QDate(2020, 1, 2), QTime(3, 4, 5));
    const QDateTime newer = old.addSecs(3600);
    const QString source = inst.writeFile(QStringLiteral("a/SK1.DOC"), "new", newer);
    inst.writeFile(QStringLiteral("b/SK1.DOC"), "old", old);
    const QString folder = inst.path(QStringLiteral("b/"));
    WithheldChanges sink;
    const std::optional<qint64> read = old.toSecsSinceEpoch();
    EXPECT_EQ(sink.timeAsLeft(folder, QStringLiteral("SK1.DOC"), read), read) << "nothing withheld yet";
    ASSERT_FALSE(sink.copyFile(source, folder + QStringLiteral("SK1.DOC")));
    EXPECT_EQ(sink.timeAsLeft(folder, QStringLiteral("SK1.DOC"), read), newer.toSecsSinceEpoch());
    EXPECT_EQ(sink.timeAsLeft(folder, QStringLiteral("SK2.DOC"), read), read);
    EXPECT_EQ(sink.timeAsLeft(folder, QStringLiteral("SK2.DOC"), std::nullopt), std::nullopt);
}

} // namespace
} // namespace mirsalex
