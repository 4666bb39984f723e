// The decoder of OPC DA 1.0 data blocks: blocks of the simulation server's
// stream writer (real ones arrive in the callback tests), and blocks that
// lie about their sizes, which must be refused whole without reading past
// their end or leaking what was built before the lie was found.
#include "xelo/core/DataStreamReader.h"

#include "support/ServerFixture.h"
#include "xelo/framework/Application.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace xelo::test {
namespace {

constexpr LONG kLongMax = std::numeric_limits<LONG>::max();

std::optional<StreamBlock> Read(const Bytes& b, bool withTime = true) { return ReadDataStream(b.data(), b.size(), withTime); }

class DataStreamReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { Application(), SimulationControl::Reset(), before_ = com::LiveAllocations(); }
  void TearDown() override { EXPECT_EQ(com::LiveAllocations(), before_) << "a buffer leaked or freed twice"; }
  com::AllocationCounts before_;
};

TEST_F(DataStreamReaderTest, ValuesTakeOnlyTheirOwnBytesAndPointersAreNeverFollowed) {
  // Each type's bits fill exactly its own size; the block's unused value
  // bytes are made garbage, which must not reach the value.
  const std::pair<VARTYPE, ULONGLONG> cases[] = {
      {VT_I1, 0xFF}, {VT_UI2, 0xFFFF}, {VT_BOOL, 0xFFFF}, {VT_I4, 0xFFFFFFFF}, {VT_UINT, 0xFFFFFFFF}, {VT_R4, 0xBFC00001},
      {VT_ERROR, 0x80004005}, {VT_I8, ~0ull}, {VT_R8, ~1ull >> 1}, {VT_CY, 0x8000000000000001}, {VT_NULL, 0}};
  for (const auto& [vt, bits] : cases) {
    SCOPED_TRACE(vt);
    Bytes b = Encode({Raw(vt, bits)});
    for (std::size_t k = com::VarTypeSize(vt); k < 8; ++k) b[ValueAt(b, 0) + 8 + k] = 0xAB;
    const auto block = Read(b);
    ASSERT_TRUE(block);
    EXPECT_EQ(std::tuple(block->items[0].value.VarType(), vt == VT_NULL ? 0 : block->items[0].value.AsVARIANT().ullVal),
              std::tuple(vt, bits));
  }
  // A true that is not VARIANT_TRUE is still true, and stored as such.
  Bytes b = Encode({true});
  Poke<SHORT>(b, ValueAt(b, 0) + 8, 1);
  EXPECT_EQ(Read(b)->items[0].value.AsVARIANT().boolVal, VARIANT_TRUE);

  // A DECIMAL overlays the whole VARIANT: scale and sign share the first
  // word's neighbours, the 96-bit mantissa fills the rest.
  b = Encode({Raw(VT_I4, 0)});
  const std::size_t at = ValueAt(b, 0);
  Poke<WORD>(b, at, VT_DECIMAL), Poke<BYTE>(b, at + 2, 2), Poke<BYTE>(b, at + 3, DECIMAL_NEG);
  Poke<ULONGLONG>(b, at + 8, 12345);
  EXPECT_EQ(VarToStr(Read(b)->items[0].value), "-123.45");
  Poke<BYTE>(b, at + 2, 29);  // scale beyond 28
  EXPECT_FALSE(Read(b));
  // Pointers arrive empty, as values and as array elements.
  for (const VARTYPE vt : {VARTYPE(VT_UNKNOWN), VARTYPE(VT_BYREF | VT_I4), VARTYPE(VT_BYREF | VT_VARIANT)}) {
    SCOPED_TRACE(vt);
    b = Encode({0, 5, Variant::Array(std::vector<Variant>{0, 6})});
    Poke<WORD>(b, ValueAt(b, 0), vt), Poke<ULONGLONG>(b, ValueAt(b, 0) + 8, 0x4141414141414141);
    // The array's first element.
    Poke<WORD>(b, ValueAt(b, 2) + 16 + 24, vt), Poke<ULONGLONG>(b, ValueAt(b, 2) + 16 + 24 + 8, 0x4141414141414141);
    const auto block = Read(b);
    EXPECT_TRUE(block && block->items[0].value.IsEmpty() && block->items[1].value == 5 &&
                block->items[2].value.GetElement(0).IsEmpty() && block->items[2].value.GetElement(1) == 6);
  }

  // Arrays are rebuilt with their bounds and elements.
  Variant reals = Variant::Array(VT_R8, -2, 0), decimals = Variant::Array(VT_DECIMAL, 1, 2);
  reals.SetElement(-2, 1.5), reals.SetElement(-1, -0.0), reals.SetElement(0, 1e300);
  decimals.SetElement(1, 0.5), decimals.SetElement(2, -79228162514264337593543950335.0 / 1e10);
  const std::vector<Variant> values = {
      reals, Variant::Array(std::vector<com::OleString>{OLESTR("x"), OLESTR(""), OLESTR("ünï \U0001D11E")}, 5),
      Variant::Array(std::vector<Variant>{7, OLESTR("ä"), Variant::Array(std::vector<double>{1, 2}), Variant(),
                                          Variant::Null(), Variant::Array(std::vector<com::OleString>{OLESTR("in")})}),
      Variant::Array(VT_R8, 0, -1), Variant::Array(VT_VARIANT, 0, -1), Variant::Array(std::vector<bool>{true, false}),
      Variant(-12.375).ChangeType(VT_DECIMAL), decimals};
  b = Encode(values, false);
  const auto block = Read(b, false);
  ASSERT_EQ(block ? block->items.size() : 0, values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(std::tuple(block->items[i].value.VarType(), block->items[i].value == values[i], block->items[i].hasTimeStamp),
              std::tuple(values[i].VarType(), true, false)) << i;
  }
  EXPECT_EQ(VarArrayLowBound(block->items[1].value, 1), 5);
  EXPECT_EQ(com::BstrView(block->items[1].value.GetElement(7).AsVARIANT().bstrVal), OLESTR("ünï \U0001D11E"));
  // Array elements of BOOL are normalised like scalars.
  Poke<SHORT>(b, ValueAt(b, 5, false) + 16 + 24, 1);
  EXPECT_EQ(Read(b, false)->items[5].value.GetElement(0).AsVARIANT().boolVal, VARIANT_TRUE);
}

// Every lie starts from one sound block and corrupts one field; the sound
// edges around them still read.
TEST_F(DataStreamReaderTest, BlocksThatLieOrNestTooDeepAreRejectedWholeSoundEdgesRead) {
  const std::vector<Variant> values = {0, OLESTR("abc"), Variant::Array(std::vector<com::OleString>{OLESTR("x"), OLESTR("yz")}),
      Variant::Array(std::vector<Variant>{1.5, OLESTR("q"), Variant::Array(std::vector<double>{1, 2})})};
  const Bytes base = Encode(values);
  ASSERT_TRUE(Read(base));
  const std::size_t text = ValueAt(base, 1) + 16, strings = ValueAt(base, 2) + 16, mixed = ValueAt(base, 3) + 16;
  const DWORD end = static_cast<DWORD>(base.size());
  const auto live = com::LiveAllocations();
  const std::vector<std::pair<const char*, std::function<void(Bytes&)>>> lies = {
      {"header cut short", [](Bytes& b) { b.resize(19); }},
      {"dwSize below the header", [](Bytes& b) { Poke<DWORD>(b, 0, 19); }},
      {"dwSize cuts the last value", [&](Bytes& b) { Poke<DWORD>(b, 0, end - 1); }},
      {"negative item count", [](Bytes& b) { Poke<DWORD>(b, 4, 0x80000000); }},
      {"item headers past the end", [&](Bytes& b) { Poke<DWORD>(b, 4, (end - 20) / 20 + 1); }},
      {"value offset at the end", [&](Bytes& b) { Poke<DWORD>(b, 24, end); }},
      {"value reaching past the end", [&](Bytes& b) { Poke<DWORD>(b, 24, end - 15); }},
      {"value offset + 16 overflowing", [](Bytes& b) { Poke<DWORD>(b, 24, 0xFFFFFFF8); }},
      {"value offset inside the headers", [](Bytes& b) { Poke<DWORD>(b, 24, 20); }},
      {"unused type code", [](Bytes& b) { Poke<WORD>(b, 100, 15); }},
      {"vector type", [](Bytes& b) { Poke<WORD>(b, 100, VT_VECTOR | VT_I4); }},
      {"array of VT_EMPTY", [](Bytes& b) { Poke<WORD>(b, 100, VT_ARRAY); }},
      {"text length past the end", [&](Bytes& b) { Poke<DWORD>(b, text, end); }},
      {"odd text length", [&](Bytes& b) { Poke<DWORD>(b, text, 5); }},
      {"text without its NUL", [&](Bytes& b) { Poke<OLECHAR>(b, text + 4 + 6, OLESTR('!')); }},
      {"two dimensions", [&](Bytes& b) { Poke<WORD>(b, strings, 2); }},
      {"element size not a BSTR slot", [&](Bytes& b) { Poke<DWORD>(b, strings + 4, 8); }},
      {"huge element count", [&](Bytes& b) { Poke<DWORD>(b, strings + 16, 0xFFFFFFFF); }},
      {"one element too many", [&](Bytes& b) { Poke<DWORD>(b, mixed + 16, 4); }},
      {"upper bound beyond 32 bits", [&](Bytes& b) { Poke<LONG>(b, strings + 20, kLongMax); }},
      {"bad nested array", [&](Bytes& b) { Poke<WORD>(b, mixed + 24 + 16 + 24 + 16, 2); }},
      {"array of interfaces", [&](Bytes& b) { Poke<WORD>(b, strings - 16, VT_ARRAY | VT_UNKNOWN); }},
  };
  for (const auto& [what, lie] : lies) {
    SCOPED_TRACE(what);
    Bytes b = base;
    lie(b);
    EXPECT_FALSE(Read(b));
    EXPECT_EQ(com::LiveAllocations(), live);  // what was built before the lie was found is gone
  }
  EXPECT_FALSE(ReadDataStream(nullptr, 100, true));

  // A failure status: the header is all there is to read, the item count
  // is not looked at, but the header itself must be sound.
  Bytes b = Encode({OLESTR("text")});
  Poke<HRESULT>(b, 16, E_FAIL), Poke<DWORD>(b, 4, 0xFFFFFFFF);
  const auto failed = Read(b);
  EXPECT_TRUE(failed && std::tuple(failed->transactionId, failed->clientGroup, failed->status, failed->items.size()) ==
                            std::tuple(99u, 0x4711u, E_FAIL, 0u));
  Poke<DWORD>(b, 0, 19);
  EXPECT_FALSE(Read(b));
  // A dwSize beyond the block: only the block is read; bytes after dwSize
  // are not part of it.
  b = Encode({0, 1});
  Poke<DWORD>(b, 0, 0xFFFFFFFF);
  EXPECT_TRUE(Read(b));
  b = Encode({OLESTR("text")});
  b.resize(b.size() + 8, 0xEE);
  EXPECT_TRUE(Read(b) && Read(b)->items[0].value == OLESTR("text"));
  EXPECT_TRUE(ReadDataStream(Encode({}).data(), 20, false));
  b = Encode({Variant::Array(std::vector<double>{1})});
  Poke<LONG>(b, ValueAt(b, 0) + 16 + 20, kLongMax);  // the last index is LONG's largest
  EXPECT_TRUE(Read(b) && VarArrayHighBound(Read(b)->items[0].value, 1) == kLongMax);

  // Nesting, and the data of values shared by items, are bounded.
  const auto nest = [](int levels) {
    Variant inner(OLESTR("deep"));
    for (int i = 0; i < levels; ++i) inner = Variant::Array(std::vector<Variant>{inner});
    return Encode({inner});
  };
  EXPECT_TRUE(Read(nest(kMaxStreamArrayNesting)) && !Read(nest(kMaxStreamArrayNesting + 1)));
  // Far deeper than any stack could recurse: each level a VT_ARRAY|VT_VARIANT
  // head and a one-element descriptor.
  const int levels = 200000;
  b = Encode({0});
  b.resize(ValueAt(b, 0));
  for (int i = 0; i < levels; ++i) {
    const std::size_t at = b.size();
    b.resize(at + 40, 0);
    Poke<WORD>(b, at, VT_ARRAY | VT_VARIANT), Poke<WORD>(b, at + 16, 1), Poke<DWORD>(b, at + 20, 16);
    Poke<DWORD>(b, at + 32, i + 1 < levels ? 1 : 0);
  }
  Poke<DWORD>(b, 0, static_cast<DWORD>(b.size()));
  EXPECT_FALSE(Read(b));

  // Items may share a value, as long as the shared string and array data
  // decoded for all of them stays within the size of the block.
  const auto shareOne = [](int items, const Variant& value) {
    Bytes shared = Encode({});
    shared.resize(20 + 20 * static_cast<std::size_t>(items), 0);
    const auto at = static_cast<DWORD>(shared.size());
    sim::StreamWriter::AppendValue(shared, value.AsVARIANT());
    Poke<DWORD>(shared, 0, static_cast<DWORD>(shared.size())), Poke<DWORD>(shared, 4, static_cast<DWORD>(items));
    for (int i = 0; i < items; ++i) Poke<DWORD>(shared, 20 + 20 * i + 4, at);
    return shared;
  };
  const Variant small(OLESTR("abcde"));
  const auto two = Read(shareOne(2, small));
  EXPECT_TRUE(two && two->items[0].value == small && two->items[1].value == small);
  EXPECT_TRUE(Read(shareOne(5000, Variant(7))));  // scalars decode no data
  EXPECT_TRUE(Read(shareOne(1, Variant(com::OleString(1000, OLESTR('a'))))));
  EXPECT_FALSE(Read(shareOne(2, Variant(com::OleString(1000, OLESTR('a'))))) ||
               Read(shareOne(1000, Variant::Array(std::vector<double>(1000, 1.0)))));
}

}  // namespace
}  // namespace xelo::test
