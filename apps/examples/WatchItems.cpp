// The README's library example: a server component with one group of two
// items, a write, and the data changes as events on the main thread.
#include "xelo/core/Xelo.h"
#include "xelo/framework/Application.h"

#include <chrono>
#include <cstdio>

int main() {
  using namespace xelo;
  TXeloServer server(nullptr);
  TXeloGroup* group = server.GetOPCGroups()->Add("Demo");
  group->SetUpdateRate(200);  // ms
  group->GetOPCItems()->AddItem("Channel 1.Device 1.Ramp");
  TXeloItem* setpoint = group->GetOPCItems()->AddItem("Channel 1.Device 1.Setpoint");

  int changes = 0;
  server.SetOnDatachange([&](TPersistent*, TXeloItemList* items) {
    for (int i = 0; i < items->GetCount(); ++i, ++changes) {
      const TXeloItem* item = items->GetItem(i);
      std::printf("%s = %s (%s)\n", item->GetItemID().c_str(), item->ValueStr().c_str(),
                  QualityToStr(static_cast<WORD>(item->GetQuality())).c_str());
    }
  });
  server.Connect("Xelo.Sim.1", "");  // this computer; groups and items go to the server
  setpoint->WriteSync(Variant(42.5));
  // Events arrive while the application's message loop runs.
  Application().ProcessMessagesUntil([&] { return changes >= 6; }, std::chrono::seconds(10));
  return changes >= 6 ? 0 : 1;
}
