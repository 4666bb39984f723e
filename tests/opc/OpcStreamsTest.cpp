#include "xelo/opc/OpcStreams.h"

#include "xelo/com/ClipboardFormats.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>

namespace {

using Formats = std::array<CLIPFORMAT, 3>;

Formats CurrentFormats() { return {OPCSTMFORMATDATA, OPCSTMFORMATDATATIME, OPCSTMFORMATWRITECOMPLETE}; }

// Taken before the first test runs and before anything in this program has
// called OPCDARegisterClipboardFormats: whatever is set by then was set
// while the program was loaded.
Formats formatsAtStart;

struct RecordFormatsAtStart : testing::Environment {
  void SetUp() override { formatsAtStart = CurrentFormats(); }
};

[[maybe_unused]] auto* const recordFormats = testing::AddGlobalTestEnvironment(new RecordFormatsAtStart);

TEST(OpcStreamFormats, AreRegisteredAtLoadUnderTheStandardNames) {
  EXPECT_EQ(std::set<CLIPFORMAT>(formatsAtStart.begin(), formatsAtStart.end()).size(), 3u);
  EXPECT_EQ(CurrentFormats(), formatsAtStart);
  // The first registration fixes the spelling, and ours came first.
  const char* const names[] = {"OPCSTMFORMATDATA", "OPCSTMFORMATDATATIME", "OPCSTMFORMATWRITECOMPLETE"};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_GE(formatsAtStart[i], 0xC000) << "not a registered format number";
    char buffer[64] = {};
    const INT length = GetClipboardFormatNameA(formatsAtStart[i], buffer, static_cast<INT>(sizeof buffer));
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length)), names[i]);
  }
  // Format names compare without regard to case, so a server that registers
  // the names in its own spelling gets our numbers.
  EXPECT_EQ(RegisterClipboardFormatA("opcstmformatdata"), OPCSTMFORMATDATA);
  EXPECT_EQ(RegisterClipboardFormatA("OpcStmFormatDataTime"), OPCSTMFORMATDATATIME);
  EXPECT_EQ(RegisterClipboardFormatW(OLESTR("opcSTMformatWRITEcomplete")), OPCSTMFORMATWRITECOMPLETE);
}

}  // namespace
