#include "xelo/framework/Strings.h"

#include "support/ScratchDirectory.h"
#include "support/Expectations.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Streams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace xelo;
using Lines = std::vector<std::string>;

using xelo::testing::MessageOf;
using xelo::testing::LinesOf;
TEST(TStringListBasics, AddsInsertsDeletesWithObjectsFindsAndRefusesBadIndexes) {
  int a = 1, b = 2;
  TStringList list;
  EXPECT_EQ(list.Add("one"), 0);
  EXPECT_EQ(list.AddObject("three", &b), 1);
  list.InsertObject(1, "two", &a);
  list.Insert(0, "zero");
  EXPECT_EQ(LinesOf(list), (Lines{"zero", "one", "two", "three"}));
  EXPECT_EQ(list.Objects(2), &a);
  EXPECT_EQ(list.IndexOfObject(&b), 3);
  list.Move(3, 0);  // the object moves with its line
  list.Exchange(1, 2);
  EXPECT_EQ(LinesOf(list), (Lines{"three", "one", "zero", "two"}));
  EXPECT_EQ(list.GetObject(0), &b);
  list.Put(0, "THREE");
  EXPECT_EQ(list.GetObject(0), &b);
  list.Delete(1);
  EXPECT_EQ(LinesOf(list), (Lines{"THREE", "zero", "two"}));
  // Found ignoring case unless case sensitive.
  list.Add("three");
  EXPECT_EQ((std::vector<int>{list.IndexOf("Three"), list.IndexOf("gamma")}), (std::vector<int>{0, -1}));
  list.SetCaseSensitive(true);
  EXPECT_EQ((std::vector<int>{list.IndexOf("Three"), list.IndexOf("three")}), (std::vector<int>{-1, 3}));

  // Bad indexes raise without changing the list.
  EXPECT_EQ(MessageOf<EStringListError>([&] { list.Get(4); }), "List index out of bounds (4)");
  EXPECT_EQ(MessageOf<EStringListError>([&] { list.Delete(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(MessageOf<EStringListError>([&] { list.Insert(5, "x"); }), "List index out of bounds (5)");
  EXPECT_EQ(MessageOf<EStringListError>([&] { list.PutObject(7, nullptr); }), "List index out of bounds (7)");
  EXPECT_EQ(MessageOf<EStringListError>([&] { list.Move(0, 4); }), "List index out of bounds (4)");
  EXPECT_EQ(LinesOf(list), (Lines{"THREE", "zero", "two", "three"}));
  // The error is a list error too, as callers catch it.
  EXPECT_THROW(list.Get(9), EListError);
}

TEST(TStringListNameValue, ReadsWritesAndDeletesValuesByName) {
  TStringList list{"TEdit=text", "plain line", "TMemo=lines=all"};
  // The value is what follows the first separator.
  EXPECT_EQ((Lines{list.GetName(0), list.Names(1), list.GetValue("tmemo"), list.Values("TLabel"), list.GetValueFromIndex(2)}),
            (Lines{"TEdit", "", "lines=all", "", "lines=all"}));
  EXPECT_EQ(list.IndexOfName("TEDIT"), 0);
  list.SetValue("TEdit", "Hint");
  list.SetValue("TLabel", "caption");
  EXPECT_EQ(LinesOf(list), (Lines{"TEdit=Hint", "plain line", "TMemo=lines=all", "TLabel=caption"}));
  list.SetValue("TMemo", "");  // an empty value deletes the line
  EXPECT_EQ(LinesOf(list), (Lines{"TEdit=Hint", "plain line", "TLabel=caption"}));
  list.SetNameValueSeparator(':');
  list.Add("key:value");
  EXPECT_EQ(list.GetValue("KEY"), "value");
}

TEST(TStringListText, JoinsWithCrLfAndSplitsAtAnyLineBreak) {
  TStringList list{"a", "", "b"};
  EXPECT_EQ(list.GetText(), "a\r\n\r\nb\r\n");
  list.SetTrailingLineBreak(false);
  EXPECT_EQ(list.GetText(), "a\r\n\r\nb");

  const struct {
    const char* text;
    Lines lines;
  } cases[] = {
      {"", {}}, {"one", {"one"}}, {"a\r\nb\nc\rd", {"a", "b", "c", "d"}}, {"a\r\n", {"a"}}, {"\r\n", {""}},
      {"a\n\nb", {"a", "", "b"}}, {"a\r\r\nb", {"a", "", "b"}}, {"x\n\n", {"x", ""}},
  };
  for (const auto& c : cases) {
    list.SetText(c.text);
    EXPECT_EQ(LinesOf(list), c.lines) << c.text;
  }
}

TEST(TStringListCommaText, QuotesItemsThatNeedItAndReadsThemBack) {
  TStringList list{"a", "b c", "d,e", "q\"x", "", "tab\there", "plain"};
  EXPECT_EQ(list.GetCommaText(), "a,\"b c\",\"d,e\",\"q\"\"x\",\"\",\"tab\there\",plain");
  EXPECT_EQ(TStringList{}.GetCommaText(), "");
  EXPECT_EQ((TStringList{""}.GetCommaText()), "\"\"");
  TStringList back;
  back.SetCommaText(TStringList{"a", ""}.GetCommaText());
  EXPECT_EQ(LinesOf(back), (Lines{"a", ""}));

  // Reading splits at commas, and at blanks outside quotes.
  const struct {
    const char* text;
    Lines items;
  } cases[] = {
      {"", {}}, {"   ", {}}, {"a, b c,\"d e\"", {"a", "b", "c", "d e"}}, {"\"a\"\"b\"", {"a\"b"}},
      {"a,,b", {"a", "", "b"}}, {"a,", {"a"}}, {" , ,x", {"", "", "x"}}, {"\"\"", {""}},
      {"\"unterminated, still", {"unterminated, still"}}, {"\"ab\"cd,e", {"ab", "cd", "e"}},
      {"\xC3\xA4\xC3\xB6,x", {"\xC3\xA4\xC3\xB6", "x"}},
  };
  for (const auto& c : cases) {
    list.SetCommaText(c.text);
    EXPECT_EQ(LinesOf(list), c.items) << c.text;
  }
}

TEST(TStringListCommaText, RoundTripsArbitraryItems) {
  // Items drawn from characters that each have a rule of their own.
  const std::string pool[] = {"a", " ", ",", "\"", "\t", "\x01", "x", "\xC3\xA4", "'", ";"};
  std::uint32_t state = 12345;
  auto next = [&] { return state = state * 1103515245u + 12345u, (state >> 16) & 0x7FFF; };
  for (int round = 0; round < 500; ++round) {
    TStringList list;
    const int count = static_cast<int>(next() % 5);
    for (int i = 0; i < count; ++i) {
      std::string item;
      const int length = static_cast<int>(next() % 4);
      for (int j = 0; j < length; ++j) item += pool[next() % std::size(pool)];
      list.Add(item);
    }
    TStringList back;
    back.SetCommaText(list.GetCommaText());
    ASSERT_EQ(LinesOf(back), LinesOf(list)) << list.GetCommaText();
    // The same with another delimiter and quote character.
    TStringList other;
    for (TStringList* l : {&other, &back}) l->SetDelimiter(';'), l->SetQuoteChar('\'');
    other.AddStrings(list);
    back.SetDelimitedText(other.GetDelimitedText());
    ASSERT_EQ(LinesOf(back), LinesOf(list));
  }
}

TEST(TStringListCommaText, DelimitedTextUsesItsOwnDelimiterQuoteAndStrictness) {
  TStringList list{"x y", "a;b", "it's", "c,d"};
  list.SetDelimiter(';');
  list.SetQuoteChar('\'');
  EXPECT_EQ(list.GetDelimitedText(), "'x y';'a;b';'it''s';c,d");

  TStringList strict;
  strict.SetDelimiter(';');
  strict.SetStrictDelimiter(true);
  strict.SetDelimitedText(" a b ;c;");
  EXPECT_EQ(LinesOf(strict), (Lines{" a b ", "c", ""}));
  EXPECT_EQ(strict.GetDelimitedText(), " a b ;c;\"\"");
  strict.SetStrictDelimiter(false);
  strict.SetDelimitedText(" a b ;c;");
  EXPECT_EQ(LinesOf(strict), (Lines{"a", "b", "c"}));
}

TEST(TStringListSorted, InsertsInOrderAndHandlesDuplicates) {
  int first = 1, second = 2;
  TStringList list{"pear", "Apple", "fig"};
  list.SetSorted(true);
  EXPECT_EQ(LinesOf(list), (Lines{"Apple", "fig", "pear"}));
  EXPECT_EQ(list.Add("banana"), 1);
  EXPECT_EQ(list.Add("zucchini"), 4);
  int found = -1;
  int missing = -1;
  EXPECT_TRUE(list.Find("PEAR", found));
  EXPECT_FALSE(list.Find("grape", missing));
  EXPECT_EQ((std::vector<int>{found, missing}), (std::vector<int>{3, 3}));  // where it would go
  EXPECT_EQ(list.IndexOf("FIG"), 2);

  // dupIgnore: the line already there, with its object, stays alone.
  list.PutObject(2, &first);
  EXPECT_EQ(list.AddObject("Fig", &second), 2);
  EXPECT_EQ(list.GetObject(2), &first);

  list.SetDuplicates(dupError);
  EXPECT_EQ(MessageOf<EStringListError>([&] { list.Add("apple"); }), "String list does not allow duplicates");

  // dupAccept: equal lines keep the order in which they came.
  list.SetDuplicates(dupAccept);
  EXPECT_EQ(list.AddObject("FIG", &second), 3);
  EXPECT_EQ(LinesOf(list), (Lines{"Apple", "banana", "fig", "FIG", "pear", "zucchini"}));  // none lost before
  EXPECT_EQ(list.GetObject(3), &second);
}

TEST(TStringListSorted, RefusesChangesOfOrderResortsOnCaseSensitivityAndSortsStably) {
  TStringList list{"b", "a", "C"};
  list.SetSorted(true);
  EXPECT_EQ(LinesOf(list), (Lines{"a", "b", "C"}));
  const std::string refused = "Operation not allowed on sorted list";
  EXPECT_EQ(MessageOf<EStringListError>([&] { list.Insert(0, "z"); }), refused);
  EXPECT_EQ(MessageOf<EStringListError>([&] { list.Exchange(0, 1); }), refused);
  EXPECT_EQ(MessageOf<EStringListError>([&] { list.CustomSort([](const TStringList&, int, int) { return 0; }); }),
            refused);
  EXPECT_EQ(LinesOf(list), (Lines{"a", "b", "C"}));
  list.SetCaseSensitive(true);  // upper case sorts before lower case by bytes
  EXPECT_EQ(LinesOf(list), (Lines{"C", "a", "b"}));
  EXPECT_EQ(list.IndexOf("c"), -1);
  list.SetSorted(false);
  list.Insert(0, "z");
  EXPECT_EQ(list.Get(0), "z");

  // Sort is stable; CustomSort too.
  list.SetCaseSensitive(false);
  list.SetText("bb\nA\na\nc\nB");
  list.Sort();
  EXPECT_EQ(LinesOf(list), (Lines{"A", "a", "B", "bb", "c"}));
  list.CustomSort([](const TStringList& l, int i, int j) {
    return static_cast<int>(l.Get(j).size()) - static_cast<int>(l.Get(i).size());
  });
  EXPECT_EQ(LinesOf(list), (Lines{"bb", "A", "a", "B", "c"}));
}


TEST(TStringListEvents, FireAroundEachChangeOrOnceForAnUpdate) {
  TStringList list;
  std::vector<std::string> log;
  list.SetOnChanging([&](TStrings* sender) { log.push_back((sender == &list ? "changing " : "?") + std::to_string(sender->GetCount())); });
  list.SetOnChange([&](TStrings* sender) { log.push_back((sender == &list ? "change " : "?") + std::to_string(sender->GetCount())); });
  list.Add("a");
  EXPECT_EQ(log, (std::vector<std::string>{"changing 0", "change 1"}));

  log.clear();
  list.BeginUpdate();
  list.Add("b");
  list.BeginUpdate();
  list.SetCommaText("x,y,z");
  list.EndUpdate();
  list.Delete(0);
  EXPECT_EQ(log, (std::vector<std::string>{"changing 1"}));
  list.EndUpdate();
  EXPECT_EQ(log, (std::vector<std::string>{"changing 1", "change 2"}));

  log.clear();
  list.BeginUpdate();
  list.EndUpdate();  // nothing changed: nothing to tell
  list.Clear();
  list.Clear();      // already empty: no change
  EXPECT_EQ(log, (std::vector<std::string>{"changing 2", "change 0"}));
}

TEST(TStringListAssign, CopiesLinesObjectsAndTextSettings) {
  int object = 0;
  TStringList source{"a", "b"};
  source.PutObject(1, &object);
  source.SetDelimiter(';');
  TStringList target{"old"};
  target.Assign(source);
  EXPECT_TRUE(target.Equals(source) && target.GetObject(1) == &object);
  EXPECT_EQ(target.GetDelimitedText(), "a;b");
  target.Assign(target);
  EXPECT_EQ(LinesOf(target), (Lines{"a", "b"}));
  target.AddStrings(target);
  EXPECT_EQ(LinesOf(target), (Lines{"a", "b", "a", "b"}));

  // Through the persistent interface, as property editors assign.
  const TPersistent* asPersistent = &source;
  target.Assign(asPersistent);
  EXPECT_TRUE(target.Equals(source));
  EXPECT_THROW(target.Assign(static_cast<const TPersistent*>(nullptr)), EConvertError);
}

TEST(TStringListFiles, SavesCrLfUtf8AndLoadsFromThePositionSkippingABom) {
  TStringList list{"Gr\xC3\xBC\xC3\x9F" "e", "", "end"};
  TStringStream stream;
  stream.WriteBuffer("prefix");
  list.SaveToStream(stream);
  EXPECT_EQ(stream.DataString(), "prefixGr\xC3\xBC\xC3\x9F" "e\r\n\r\nend\r\n");
  stream.SetPosition(6);
  TStringList back;
  back.LoadFromStream(stream);
  EXPECT_TRUE(back.Equals(list));

  TStringStream withBom("\xEF\xBB\xBFone\ntwo");
  back.LoadFromStream(withBom);
  EXPECT_EQ(LinesOf(back), (Lines{"one", "two"}));

  xelo::testing::ScratchDirectory dir;
  list.SaveToFile(dir.File("lines.txt"));
  EXPECT_EQ(xelo::testing::ReadWholeFile(dir.File("lines.txt")), list.GetText());
  back.LoadFromFile(dir.File("lines.txt"));
  EXPECT_TRUE(back.Equals(list));
  EXPECT_THROW(back.LoadFromFile(dir.File("missing.txt")), EFOpenError);
}

}  // namespace
