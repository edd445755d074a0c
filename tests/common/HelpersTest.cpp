#include "common/Helpers.h"

#include "support/TempInstall.h"

#include <gtest/gtest.h>
#include <QDateTime>
#include <QLocale>

using namespace mirsalex;

TEST(Helpers, TestoODefault)
{
    struct Case
    {
        QVariant value, def;
        QString expected;
    } cases[] = {
        {QVariant(), QVariant(), " "},
        {QVariant(), QVariant("N"), "N"},
        {QVariant(QMetaType::fromType<QString>()), QVariant("N"), "N"}, // a Null text field
        {QVariant("   "), QVariant(), " "},
        {QVariant("   "), QVariant("  "), " "},
        {QVariant(QString(QChar(0)) + "AB"), QVariant("D"), "D"},
        {QVariant("AB "), QVariant(), "AB "},
        {QVariant(12), QVariant(), "12"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TestoODefault(c.value, c.def), c.expected) << c.value.toString().toStdString();
}

TEST(Helpers, NumeroOZero)
{
    struct Case
    {
        QVariant value, expected;
    } cases[] = {
        {QVariant(), QVariant(0)},
        {QVariant(QMetaType::fromType<int>()), QVariant(0)},
        {QVariant(""), QVariant(0)},
        {QVariant("   "), QVariant(0)},
        {QVariant("abc"), QVariant(0)},
        {QVariant("12abc"), QVariant(0)},
        {QVariant("12"), QVariant("12")}, // a numeric text stays a text
        {QVariant(" 1.5 "), QVariant(" 1.5 ")},
        {QVariant(7), QVariant(7)},
        {QVariant(QDate(2001, 1, 1)), QVariant(0)},
    };
    for (const auto& c : cases) {
        const QVariant got = NumeroOZero(c.value);
        EXPECT_EQ(got, c.expected) << c.value.toString().toStdString();
        EXPECT_EQ(got.typeId(), c.expected.typeId()) << c.value.toString().toStdString();
    }
}

TEST(Helpers, AllineaDestra)
{
    bool ok = true;
    EXPECT_EQ(AllineaDestra(7, 5, &ok), "    7");
    EXPECT_TRUE(ok);
    EXPECT_EQ(AllineaDestra(123456, 5), "123456");
    EXPECT_EQ(AllineaDestra(" 12 ", 4), "  12");
    EXPECT_EQ(AllineaDestra("", 5), "");
    EXPECT_EQ(AllineaDestra(QVariant(), 5, &ok), "");
    EXPECT_FALSE(ok); // a Null value is an error for the caller
}

TEST(Helpers, PathAndTextRoutines)
{
    EXPECT_EQ(CartellaDi("/DATI/X/F.mdb"), "/DATI/X");
    EXPECT_EQ(CartellaDi("/DATI/X/"), "/DATI/X");
    EXPECT_EQ(CartellaDi("F.mdb"), "");
    EXPECT_EQ(AnnoDi(QDate(987, 5, 1)), "0987");
    EXPECT_EQ(AnnoDi(QDate(2024, 5, 1)), "2024");
    EXPECT_EQ(TagliaNul(QString("AB") + QChar(0) + "CD"), "AB");
    EXPECT_EQ(TagliaNul("ABC"), "ABC");
    EXPECT_EQ(FixedWidth("ABC", 5), "ABC  ");
    EXPECT_EQ(FixedWidth("ABCDEFG", 5), "ABCDE");
    EXPECT_EQ(FixedWidth("ABC", 0), "");
}

TEST(Helpers, TastoMaiuscolo)
{
    const std::pair<int, int> cases[] = {{'a', 'A'},   {'z', 'Z'}, {'A', 'A'}, {'1', '1'},
                                         {0xE0, 0xE0}, {'{', '{'}, {'`', '`'}, {13, 13}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(TastoMaiuscolo(in), out) << in;
}

TEST(Helpers, IsNumericIsStrict)
{
    struct Case
    {
        QString text;
        bool numeric;
        double value;
    } cases[] = {
        {"12", true, 12},    {" 12 ", true, 12},  {"-3.5", true, -3.5}, {"1936.27", true, 1936.27},
        {"1e3", true, 1000}, {"12abc", false, 0}, {"abc", false, 0},    {"", false, 0},
        {"   ", false, 0},   {"inf", false, 0},   {"nan", false, 0},    {"1..2", false, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsNumeric(c.text), c.numeric) << c.text.toStdString();
        EXPECT_DOUBLE_EQ(ToNumber(c.text), c.value) << c.text.toStdString();
    }
}

TEST(Helpers, DateFormats)
{
    const QDateTime when(QDate(2004, 3, 7), QTime(17, 5, 59));
    const QLocale before;
    // The stamps keep their separators whatever the machine's locale.
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany),
                                  QLocale(QLocale::Finnish, QLocale::Finland)}) {
        QLocale::setDefault(locale);
        EXPECT_EQ(DateStamp(when), "07/03/04 17:05") << locale.name().toStdString();
        EXPECT_EQ(MessageDate(when), "07/03/2004 17:05") << locale.name().toStdString();
    }
    QLocale::setDefault(before);
}

TEST(Helpers, CompareBinaryUsesCodeUnits)
{
    struct Case
    {
        QString a, b;
        int sign;
    } cases[] = {
        {"A", "a", -1},  {"a", "A", 1},     {"0", "", 1},    {"", "0", -1},
        {"000", "0", 1}, {"/", "0", -1},    {"ab", "ab", 0}, {QString::fromUtf8("é"), "z", 1},
        {"Z", "a", -1},  {"A12", "A2", -1},
    };
    for (const auto& c : cases) {
        const int r = CompareBinary(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a.toStdString() << " vs " << c.b.toStdString();
    }
}

TEST(Helpers, CartellaWindowsEndsWithSeparator)
{
    mirsalex::test::TempInstall inst;
    EXPECT_EQ(CartellaWindows(), inst.configFolder());
}
