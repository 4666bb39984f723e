// Configuration files are edited by hand and written by other programs:
// loading one into a server component must either succeed or raise one of
// the library's exceptions, never crash, and leave nothing behind once the
// component is gone. What loads must save as a text that parses, and a few
// trips through save and load must settle on one text.
//
// A text may say Active = True; the embedded simulation server is then the
// one it connects to (any other server name fails to resolve), so groups
// and items from the text reach a real server too. The connect delay is
// not slept, and the message queue is emptied after each input so that
// nothing the server posted piles up from one input to the next.
#include "xelo/core/Xelo.h"

#include "servers/simulation/SimulationControl.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/TextForm.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

std::unique_ptr<xelo::TXeloServer> NewServer() {
  auto server = std::make_unique<xelo::TXeloServer>(nullptr);
  server->SetConnectWait([](std::int32_t) {});
  return server;
}

std::string Save(xelo::TXeloServer& server) {
  xelo::TStringStream out;
  server.SaveToStream(out);
  return out.DataString();
}

// Loads `text` into a fresh component; the saved text afterwards, or
// nothing when loading raised.
bool LoadAndSave(const std::string& text, std::string& saved) {
  auto server = NewServer();
  xelo::TStringStream in(text);
  try {
    server->LoadFromStream(in);
  } catch (const xelo::Exception&) {
    return false;
  }
  // Whatever loaded must be writable, in a text that parses.
  saved = Save(*server);
  try {
    xelo::ParseFormText(saved);
  } catch (const xelo::EParserError&) {
    std::abort();
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  xelo::Application();
  // The simulation's runtime (its address space with its values) comes
  // into being with the first look at it, before the count is taken.
  const auto live = xelo::sim::SimulationControl::Live();
  const auto allocations = xelo::com::LiveAllocations();
  {
    std::string saved;
    std::string again;
    std::string third;
    // The first two trips may normalise: numbers and quoting, the revised
    // update rate of a group that connected, the default name of a group
    // whose name was empty and the template's access path of an item whose
    // own was empty (neither is written). From then on the text must be
    // stable. Loading again may fail only for reasons a server gives, and
    // such a failure is an exception like any other.
    if (LoadAndSave(std::string(reinterpret_cast<const char*>(data), size), saved) && LoadAndSave(saved, again) &&
        LoadAndSave(again, third) && third != again) {
      std::abort();
    }
  }
  xelo::Application().ProcessMessages();
  const auto liveAfter = xelo::sim::SimulationControl::Live();
  if (liveAfter.servers != live.servers || liveAfter.groups != live.groups) std::abort();
  if (!(xelo::com::LiveAllocations() == allocations)) std::abort();
  return 0;
}
