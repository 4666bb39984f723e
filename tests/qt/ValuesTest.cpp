// Values between Variant and QVariant, for every VARIANT type the core
// delivers.
#include "xelo/qt/Values.h"

#include "xelo/com/OleDate.h"
#include "xelo/framework/Exceptions.h"

#include <QDateTime>
#include <QSize>
#include <QStringList>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

using xelo::Variant;
using xelo::qt::FromQVariant;
using xelo::qt::ToQVariant;

// Each type to the Qt type of its range and back to the VARIANT type Qt's
// type maps to (VT_EMPTY: no way back to compare).
TEST(QtValues, EveryScalarTypeBecomesTheQtTypeOfItsRangeAndComesBack) {
  const struct Case { const char* what; Variant value; QVariant qt; VARTYPE back; } cases[] = {
      {"I1", Variant(std::int8_t{-128}), -128, VT_I4},
      {"UI2", Variant(std::uint16_t{65535}), 65535u, VT_UI4},
      {"I4", Variant(std::int32_t{-2147483647 - 1}), std::numeric_limits<int>::min(), VT_I4},
      {"UI4", Variant(std::uint32_t{4294967295u}), 4294967295u, VT_UI4},
      {"I8", Variant(std::int64_t{-9007199254740993}), qlonglong{-9007199254740993}, VT_I8},
      {"UI8", Variant(std::uint64_t{18446744073709551615u}), qulonglong{18446744073709551615u}, VT_UI8},
      {"R4", Variant(1.5f), 1.5f, VT_R4},
      {"R8", Variant(0.125), 0.125, VT_R8},
      {"CY", Variant::Currency(12.3456), 12.3456, VT_R8},
      {"BOOL", Variant(true), true, VT_BOOL},
      {"ERROR", Variant::Error(static_cast<SCODE>(0x80004005)), static_cast<int>(0x80004005), VT_EMPTY},
      {"BSTR", Variant(OLESTR("Grüße, 世界")), QString::fromUtf8("Grüße, 世界"), xelo::varString},
      {"empty text", Variant(""), QString(""), xelo::varString},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const QVariant converted = ToQVariant(c.value);
    EXPECT_TRUE(converted.metaType() == c.qt.metaType() && converted == c.qt) << converted.toString().toStdString();
    if (c.back == VT_EMPTY) continue;
    const Variant back = FromQVariant(c.qt);
    EXPECT_EQ(std::pair(back.VarType(), xelo::VarToStr(back)), std::pair(c.back, xelo::VarToStr(c.value)));
  }
  EXPECT_TRUE(!ToQVariant(Variant()).isValid() && FromQVariant(QVariant()).IsEmpty());
  EXPECT_TRUE(ToQVariant(Variant::Null()).metaType().id() == QMetaType::Nullptr &&
              FromQVariant(QVariant::fromValue(nullptr)).IsNull());
  // Qt's other text and number types.
  EXPECT_EQ((std::vector{FromQVariant(QChar(u'A')), FromQVariant(QByteArray("bytes")), FromQVariant(QUrl("http://x/"))}),
            (std::vector{Variant(65), Variant("bytes"), Variant("http://x/")}));
  // A decimal is a number; an interface pointer or a size has no other side.
  VARIANT decimal{}, unknown{};
  decimal.vt = VT_R8, decimal.dblVal = 0.5, unknown.vt = VT_UNKNOWN;
  ASSERT_EQ(VariantChangeType(&decimal, &decimal, 0, VT_DECIMAL), S_OK);
  EXPECT_EQ(ToQVariant(Variant::Attach(decimal)), QVariant(0.5));
  EXPECT_THROW(ToQVariant(Variant::Attach(unknown)), xelo::EConvertError);
  EXPECT_THROW(FromQVariant(QVariant::fromValue(QSize(1, 2))), xelo::EConvertError);
}

TEST(QtValues, DatesAreWallClockTimesBothWays) {
  DATE date = 0;
  ASSERT_TRUE(xelo::com::DateFromParts({2026, 12, 7, 13, 45, 30, 250}, date));
  const QVariant converted = ToQVariant(Variant::Date(date));
  EXPECT_EQ(converted.toDateTime(), QDateTime(QDate(2026, 12, 7), QTime(13, 45, 30, 250)));
  const Variant back = FromQVariant(converted);
  EXPECT_EQ(back.VarType(), VT_DATE);
  EXPECT_NEAR(back.AsVARIANT().date, date, 1e-8);
  // A zone other than the local one is read as the same instant here.
  const QDateTime utc(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);
  EXPECT_EQ(ToQVariant(FromQVariant(utc)).toDateTime(), utc.toLocalTime());
  EXPECT_EQ(FromQVariant(QDate(1899, 12, 30)).AsVARIANT().date, 0.0);
  EXPECT_THROW(FromQVariant(QDateTime(QDate(10000, 1, 1), QTime(0, 0))), xelo::EConvertError);
  EXPECT_THROW(FromQVariant(QDateTime()), xelo::EConvertError);
}

TEST(QtValues, ArraysBecomeListsPerDimensionFromTheirLowBound) {
  EXPECT_EQ(ToQVariant(Variant::Array(std::vector<double>{1.5, 2.5, 3.5}, -1)).toList(), (QVariantList{1.5, 2.5, 3.5}));
  Variant matrix = Variant::Array(VT_I4, {{1, 2}, {0, 2}});
  for (LONG i = 1; i <= 2; ++i)
    for (LONG j = 0; j <= 2; ++j) matrix.SetElement({i, j}, Variant(10 * i + j));
  EXPECT_EQ(ToQVariant(matrix).toList(), (QVariantList{QVariantList{10, 11, 12}, QVariantList{20, 21, 22}}));
  Variant mixed = Variant::Array(VT_VARIANT, 0, 2);
  mixed.SetElement(0, Variant("a"));
  mixed.SetElement(1, Variant(true));
  EXPECT_EQ(ToQVariant(mixed).toList(), (QVariantList{QString("a"), true, QVariant()}));
  EXPECT_TRUE(ToQVariant(Variant::Array(VT_BSTR, 0, -1)).toList().isEmpty());

  const Variant fromList = FromQVariant(QStringList{"x", "y"});
  ASSERT_EQ(fromList.VarType(), VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(xelo::VarArrayHighBound(fromList, 1), 1);
  EXPECT_EQ(xelo::VarToStr(fromList.GetElement(1)), "y");
  EXPECT_EQ(FromQVariant(QVariantList{1, QVariantList{2.5}}).GetElement(1).VarType(), VT_ARRAY | VT_VARIANT);
}

}  // namespace
