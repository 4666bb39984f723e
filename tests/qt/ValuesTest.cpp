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

Variant Of(VARTYPE vt, void (*fill)(VARIANT&)) {
  VARIANT v;
  VariantInit(&v);
  fill(v);
  v.vt = vt;
  return Variant::Attach(v);
}

TEST(QtValues, EveryScalarTypeBecomesTheQtTypeOfItsRange) {
  struct Case {
    const char* what;
    Variant value;
    QMetaType::Type type;
    QVariant expected;
  };
  const Case cases[] = {
      {"I1", Of(VT_I1, [](VARIANT& v) { v.cVal = -128; }), QMetaType::Int, -128},
      {"UI1", Of(VT_UI1, [](VARIANT& v) { v.bVal = 255; }), QMetaType::UInt, 255u},
      {"I2", Variant(std::int16_t{-32768}), QMetaType::Int, -32768},
      {"UI2", Of(VT_UI2, [](VARIANT& v) { v.uiVal = 65535; }), QMetaType::UInt, 65535u},
      {"I4", Variant(std::int32_t{-2147483647 - 1}), QMetaType::Int, std::numeric_limits<int>::min()},
      {"UI4", Variant(std::uint32_t{4294967295u}), QMetaType::UInt, 4294967295u},
      {"INT", Of(VT_INT, [](VARIANT& v) { v.intVal = 7; }), QMetaType::Int, 7},
      {"UINT", Of(VT_UINT, [](VARIANT& v) { v.uintVal = 8; }), QMetaType::UInt, 8u},
      {"I8", Variant(std::int64_t{-9007199254740993}), QMetaType::LongLong, qlonglong{-9007199254740993}},
      {"UI8", Variant(std::uint64_t{18446744073709551615u}), QMetaType::ULongLong,
       qulonglong{18446744073709551615u}},
      {"R4", Variant(1.5f), QMetaType::Float, 1.5f},
      {"R8", Variant(-2.25), QMetaType::Double, -2.25},
      {"CY", Variant::Currency(12.3456), QMetaType::Double, 12.3456},
      {"BOOL true", Variant(true), QMetaType::Bool, true},
      {"BOOL false", Variant(false), QMetaType::Bool, false},
      {"ERROR", Variant::Error(static_cast<SCODE>(0x80004005)), QMetaType::Int, static_cast<int>(0x80004005)},
      {"BSTR", Variant(OLESTR("Grüße, 世界")), QMetaType::QString, QString::fromUtf8("Grüße, 世界")},
      {"text", Variant("Grüße"), QMetaType::QString, QString::fromUtf8("Grüße")},
      {"empty text", Variant(""), QMetaType::QString, QString("")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QVariant converted = ToQVariant(c.value);
    EXPECT_EQ(converted.metaType().id(), c.type);
    EXPECT_EQ(converted, c.expected) << converted.toString().toStdString();
  }
  EXPECT_FALSE(ToQVariant(Variant()).isValid());
  EXPECT_EQ(ToQVariant(Variant::Null()).metaType().id(), QMetaType::Nullptr);
  VARIANT decimal;
  VariantInit(&decimal);
  decimal.vt = VT_R8;
  decimal.dblVal = 0.5;
  ASSERT_EQ(VariantChangeType(&decimal, &decimal, 0, VT_DECIMAL), S_OK);
  EXPECT_EQ(ToQVariant(Variant::Attach(decimal)), QVariant(0.5));
  EXPECT_THROW(ToQVariant(Of(VT_UNKNOWN, [](VARIANT& v) { v.punkVal = nullptr; })), xelo::EConvertError);
}

TEST(QtValues, DatesAreWallClockTimesBothWays) {
  xelo::com::DateParts parts{2026, 12, 7, 13, 45, 30, 250};
  DATE date = 0;
  ASSERT_TRUE(xelo::com::DateFromParts(parts, date));
  const QVariant converted = ToQVariant(Variant::Date(date));
  ASSERT_EQ(converted.metaType().id(), QMetaType::QDateTime);
  EXPECT_EQ(converted.toDateTime(), QDateTime(QDate(2026, 12, 7), QTime(13, 45, 30, 250)));
  const Variant back = FromQVariant(converted);
  ASSERT_EQ(back.VarType(), VT_DATE);
  EXPECT_NEAR(back.AsVARIANT().date, date, 1e-8);
  // A zone other than the local one is read as the same instant here.
  const QDateTime utc(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);
  EXPECT_EQ(ToQVariant(FromQVariant(utc)).toDateTime(), utc.toLocalTime());
  EXPECT_EQ(FromQVariant(QDate(1899, 12, 30)).AsVARIANT().date, 0.0);
  EXPECT_THROW(FromQVariant(QDateTime(QDate(10000, 1, 1), QTime(0, 0))), xelo::EConvertError);
  EXPECT_THROW(FromQVariant(QDateTime()), xelo::EConvertError);
}

TEST(QtValues, ArraysBecomeListsPerDimensionFromTheirLowBound) {
  Variant numbers = Variant::Array(std::vector<double>{1.5, 2.5, 3.5}, -1);
  const QVariantList list = ToQVariant(numbers).toList();
  ASSERT_EQ(list.size(), 3);
  EXPECT_EQ(list[0], QVariant(1.5));
  EXPECT_EQ(list[2], QVariant(3.5));

  Variant matrix = Variant::Array(VT_I4, {{1, 2}, {0, 2}});
  for (LONG i = 1; i <= 2; ++i) {
    for (LONG j = 0; j <= 2; ++j) matrix.SetElement({i, j}, Variant(10 * i + j));
  }
  const QVariantList rows = ToQVariant(matrix).toList();
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[1].toList(), (QVariantList{20, 21, 22}));

  Variant mixed = Variant::Array(VT_VARIANT, 0, 2);
  mixed.SetElement(0, Variant("a"));
  mixed.SetElement(1, Variant(true));
  const QVariantList mixedList = ToQVariant(mixed).toList();
  ASSERT_EQ(mixedList.size(), 3);
  EXPECT_EQ(mixedList[0], QVariant(QString("a")));
  EXPECT_EQ(mixedList[1], QVariant(true));
  EXPECT_FALSE(mixedList[2].isValid());
  EXPECT_TRUE(ToQVariant(Variant::Array(VT_BSTR, 0, -1)).toList().isEmpty());

  const Variant fromList = FromQVariant(QStringList{"x", "y"});
  ASSERT_EQ(fromList.VarType(), VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(xelo::VarArrayHighBound(fromList, 1), 1);
  EXPECT_EQ(xelo::VarToStr(fromList.GetElement(1)), "y");
  const Variant nested = FromQVariant(QVariantList{1, QVariantList{2.5}});
  EXPECT_EQ(nested.GetElement(1).VarType(), VT_ARRAY | VT_VARIANT);
}

TEST(QtValues, QtValuesComeBackAsTheirVariantTypes) {
  struct Case {
    QVariant value;
    VARTYPE type;
    const char* text;
  };
  const Case cases[] = {
      {QVariant(true), VT_BOOL, "True"},
      {QVariant(-5), VT_I4, "-5"},
      {QVariant(static_cast<short>(-6)), VT_I4, "-6"},
      {QVariant(QChar(u'A')), VT_I4, "65"},
      {QVariant(7u), VT_UI4, "7"},
      {QVariant(qlonglong{-8}), VT_I8, "-8"},
      {QVariant(qulonglong{9}), VT_UI8, "9"},
      {QVariant(0.25f), VT_R4, "0.25"},
      {QVariant(0.125), VT_R8, "0.125"},
      {QVariant(QString::fromUtf8("Größe")), xelo::varString, "Größe"},
      {QVariant(QByteArray("bytes")), xelo::varString, "bytes"},
      {QVariant(QUrl("http://x/")), xelo::varString, "http://x/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Variant converted = FromQVariant(c.value);
    EXPECT_EQ(converted.VarType(), c.type);
    EXPECT_EQ(xelo::VarToStr(converted), c.text);
  }
  EXPECT_TRUE(FromQVariant(QVariant()).IsEmpty());
  EXPECT_TRUE(FromQVariant(QVariant::fromValue(nullptr)).IsNull());
  EXPECT_THROW(FromQVariant(QVariant::fromValue(QSize(1, 2))), xelo::EConvertError);
}

}  // namespace
