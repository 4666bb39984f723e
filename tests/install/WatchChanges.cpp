// A program as a user of the installed package writes it: it includes the
// headers under <xelo/...>, links the libraries (the simulation server
// among them) and watches a number item and a string item of the embedded
// server Xelo.Sim.1 until each has changed three times, then disconnects.
//
// The number (Ramp) moves by itself with every update cycle of the server.
// No text of the server changes by itself, so the program plays the device
// that writes one: after each change of the number it gives the string item
// a new text through the server's control API, which is how an
// application's own tests steer the embedded server.
//
// Output, one line per change, then "disconnected":
//   number Channel 1.Device 1.Ramp = 5 (good)
//   string Channel 1.Device 1.Text = Device 1 (good)
// Exit code 0 when both items changed three times within ten seconds.
#include <xelo/com/WideText.h>
#include <xelo/core/Xelo.h>
#include <xelo/framework/Application.h>
#include <xelo/simulation/SimulationControl.h>

#include <chrono>
#include <cstdio>
#include <string>

int main() {
  using namespace xelo;
  constexpr int kChanges = 3;
  const std::string numberId = "Channel 1.Device 1.Ramp";
  const std::string textId = "Channel 1.Device 1.Text";

  TXeloServer server(nullptr);
  TXeloGroup* group = server.GetOPCGroups()->Add("Watch");
  group->SetUpdateRate(100);  // ms
  TXeloItem* number = group->GetOPCItems()->AddItem(numberId);
  TXeloItem* text = group->GetOPCItems()->AddItem(textId);

  int numberChanges = 0;
  int textChanges = 0;
  server.SetOnDatachange([&](TPersistent*, TXeloItemList* items) {
    for (int i = 0; i < items->GetCount(); ++i) {
      const TXeloItem* item = items->GetItem(i);
      if (item != number && item != text) continue;
      const bool isNumber = item == number;
      int& changes = isNumber ? numberChanges : textChanges;
      if (changes < kChanges) {
        std::printf("%s %s = %s (%s)\n", isNumber ? "number" : "string", item->GetItemID().c_str(),
                    item->ValueStr().c_str(), QualityToStr(static_cast<WORD>(item->GetQuality())).c_str());
        std::fflush(stdout);
      }
      ++changes;
      if (isNumber) {
        const xelo::com::OleString next = OLESTR("ramp at ") + com::ToUtf16(item->ValueStr());
        sim::SimulationControl::SetItemValue(com::ToUtf16(textId), Variant(next).AsVARIANT());
      }
    }
  });

  server.Connect("Xelo.Sim.1", "");  // this computer
  // Events arrive while the application's message loop runs.
  const bool done = Application().ProcessMessagesUntil(
      [&] { return numberChanges >= kChanges && textChanges >= kChanges; }, std::chrono::seconds(10));
  server.Disconnect();
  if (!done) {
    std::fprintf(stderr, "only %d number and %d string changes in ten seconds\n", numberChanges, textChanges);
    return 1;
  }
  std::printf("%s\n", server.GetActive() ? "still connected" : "disconnected");
  return server.GetActive() ? 1 : 0;
}
