#include "xelo/opc/OpcStreams.h"

#include "xelo/com/ClipboardFormats.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct Formats {
  CLIPFORMAT data = 0;
  CLIPFORMAT dataTime = 0;
  CLIPFORMAT writeComplete = 0;
};

Formats CurrentFormats() { return {OPCSTMFORMATDATA, OPCSTMFORMATDATATIME, OPCSTMFORMATWRITECOMPLETE}; }

// Taken before the first test runs and before anything in this program has
// called OPCDARegisterClipboardFormats: whatever is set by then was set
// while the program was loaded.
Formats formatsAtStart;

class RecordFormatsAtStart : public testing::Environment {
 public:
  void SetUp() override { formatsAtStart = CurrentFormats(); }
};

[[maybe_unused]] testing::Environment* const recordFormats =
    testing::AddGlobalTestEnvironment(new RecordFormatsAtStart);

std::string NameOf(UINT format) {
  char buffer[64] = {};
  const INT length = GetClipboardFormatNameA(format, buffer, static_cast<INT>(sizeof buffer));
  return std::string(buffer, static_cast<std::size_t>(length));
}

TEST(OpcStreamFormats, AreRegisteredWhenTheProgramLoads) {
  const std::set<CLIPFORMAT> distinct{formatsAtStart.data, formatsAtStart.dataTime, formatsAtStart.writeComplete};
  EXPECT_EQ(distinct.size(), 3u);
  for (CLIPFORMAT format : distinct) {
    EXPECT_GE(format, 0xC000) << "not a registered format number";
  }
  const Formats now = CurrentFormats();
  EXPECT_EQ(now.data, formatsAtStart.data);
  EXPECT_EQ(now.dataTime, formatsAtStart.dataTime);
  EXPECT_EQ(now.writeComplete, formatsAtStart.writeComplete);
}

TEST(OpcStreamFormats, CarryTheStandardNames) {
  // Format names compare without regard to case, so a server that registers
  // the names in its own spelling gets our numbers.
  EXPECT_EQ(RegisterClipboardFormatA("opcstmformatdata"), OPCSTMFORMATDATA);
  EXPECT_EQ(RegisterClipboardFormatA("OpcStmFormatDataTime"), OPCSTMFORMATDATATIME);
  EXPECT_EQ(RegisterClipboardFormatW(OLESTR("opcSTMformatWRITEcomplete")), OPCSTMFORMATWRITECOMPLETE);
  // The first registration fixes the spelling; ours came first.
  EXPECT_EQ(NameOf(OPCSTMFORMATDATA), "OPCSTMFORMATDATA");
  EXPECT_EQ(NameOf(OPCSTMFORMATDATATIME), "OPCSTMFORMATDATATIME");
  EXPECT_EQ(NameOf(OPCSTMFORMATWRITECOMPLETE), "OPCSTMFORMATWRITECOMPLETE");
}

}  // namespace
