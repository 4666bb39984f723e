// Configuration files arrive as text from users and other programs: the
// text form must either parse or raise its parse error, never crash, and a
// text that parses must survive the trip through the binary form. The first
// trip may normalise (a number's precision letter, blanks, quoting), so the
// check is that the text we write reads back to the same text.
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/TextForm.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  xelo::TMemoryStream text;
  text.WriteBuffer(data, size);
  text.SetPosition(0);
  xelo::TMemoryStream binary;
  try {
    xelo::ObjectTextToBinary(text, binary);
  } catch (const xelo::EParserError&) {
    return 0;
  }
  const auto toText = [](xelo::TMemoryStream& from) {
    from.SetPosition(0);
    xelo::TMemoryStream out;
    xelo::ObjectBinaryToText(from, out);  // must not raise for what we produced
    out.SetPosition(0);
    return std::string(static_cast<const char*>(out.Memory()), static_cast<std::size_t>(out.GetSize()));
  };
  const std::string written = toText(binary);
  xelo::TMemoryStream writtenStream;
  writtenStream.WriteBuffer(written);
  writtenStream.SetPosition(0);
  xelo::TMemoryStream binaryAgain;
  xelo::ObjectTextToBinary(writtenStream, binaryAgain);
  if (toText(binaryAgain) != written) std::abort();
  return 0;
}
