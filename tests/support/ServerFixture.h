// The fixture of the core component tests: a TXeloServer against the
// embedded simulation server in its strict ownership mode, with its events
// recorded, the ConnectDelay wait counted instead of slept, message boxes
// and error reports captured by a quiet headless user interface (ui_), and
// after each test the proof that nothing was left behind (no live server or
// group objects, task allocator back to where it started) and that the
// library kept COM's ownership rule (no ownership violation).
#pragma once

#include "xelo/core/Xelo.h"

#include "support/Expectations.h"

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "servers/simulation/StreamWriter.h"
#include "xelo/com/Apartment.h"
#include "xelo/com/BStr.h"
#include "xelo/com/ClassFactory.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/com/ComObject.h"
#include "xelo/com/DataTransfer.h"
#include "xelo/com/OleDate.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/Strings.h"
#include "xelo/framework/TypInfo.h"
#include "xelo/framework/UserInterface.h"
#include "xelo/opc/OpcStreams.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace xelo::test {

using xelo::sim::SimulationControl;
using xelo::testing::LinesOf;
using xelo::testing::MessageOf;

using Lines = std::vector<std::string>;


// Gives a simulation item a VT_I4 value.
inline void SetSimValue(const OLECHAR* id, LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  SimulationControl::SetItemValue(id, v);
}

// The lines joined with CR LF, the last one ended too.
inline std::string Crlf(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) (text += line) += "\r\n";
  return text;
}
// A component as configuration text, and loaded from one.
inline std::string SaveText(TXeloServer& server) {
  TStringStream out;
  server.SaveToStream(out);
  return out.DataString();
}
inline void LoadText(TXeloServer& server, std::string_view text) {
  TStringStream in(text);
  server.LoadFromStream(in);
}
// The names of the published properties, in their order.
template <class Object>
Lines PropNames(Object& object) {
  Lines names;
  for (const TPropInfo* prop : GetPropList(object)) names.push_back(prop->Name());
  return names;
}
inline const TXeloItems& ItemsOf(const TXeloServer& server, int group) {
  return *server.GetOPCGroups()->GetItem(group)->GetOPCItems();
}

class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    auto ui = std::make_unique<THeadlessUserInterface>(false);
    ui_ = ui.get();
    previousUi_ = Application().SetUserInterface(std::move(ui));
    SimulationControl::Reset();
    SimulationControl::SetStrictOwnership(true);
    liveServers_ = SimulationControl::Live().servers;
    liveGroups_ = SimulationControl::Live().groups;
    liveBlocks_ = com::LiveAllocations().taskMemory;
    server_ = std::make_unique<TXeloServer>(nullptr);
    server_->SetOnError([this](TPersistent* sender, const std::string& text, bool& raise) {
      EXPECT_EQ(sender, server_.get());
      errors_.push_back(text);
      raise = raiseErrors_;
    });
    server_->SetOnConnect([this](TPersistent* sender) {
      EXPECT_EQ(sender, server_.get());
      ++connects_;
    });
    server_->SetOnDisconnect([this](TPersistent* sender) {
      EXPECT_EQ(sender, server_.get());
      ++disconnects_;
    });
    server_->SetConnectWait([this](std::int32_t ms) { waits_.push_back(ms); });
  }

  void TearDown() override {
    server_.reset();
    EXPECT_EQ(SimulationControl::Live().servers, liveServers_) << "server objects still alive";
    EXPECT_EQ(SimulationControl::Live().groups, liveGroups_) << "group objects still alive";
    EXPECT_EQ(com::LiveAllocations().taskMemory, liveBlocks_) << "task-allocator blocks leaked or freed twice";
    Pump();
    SimulationControl::CheckOwnership();
    const auto violations = SimulationControl::OwnershipViolations();
    EXPECT_TRUE(violations.empty()) << ::testing::PrintToString(violations);
    Application().SetUserInterface(std::move(previousUi_));
  }

  // Runs whatever the server and the sinks have queued (and what that
  // queues in turn).
  static void Pump() {
    for (int i = 0; i < 20 && Application().ProcessMessages() > 0; ++i) {
    }
  }

  void ConnectSim(const std::string& name = sim::kProgIdSim) {
    server_->SetServer(name);
    server_->SetActive(true);
    ASSERT_TRUE(server_->GetActive());
  }

  TXeloGroups& Groups() { return *server_->GetOPCGroups(); }

  // A group "G" with the given items (connected or not, as the server is).
  TXeloGroup* AddGroup(std::initializer_list<const char*> ids, const std::string& name = "G") {
    TXeloGroup* group = Groups().Add(name);
    for (const char* id : ids) group->GetOPCItems()->AddItem(id);
    return group;
  }

  std::unique_ptr<TXeloServer> server_;
  std::vector<std::string> errors_;
  std::vector<std::int32_t> waits_;
  bool raiseErrors_ = true;
  int connects_ = 0;
  int disconnects_ = 0;
  std::size_t liveServers_ = 0;
  std::size_t liveGroups_ = 0;
  long liveBlocks_ = 0;
  THeadlessUserInterface* ui_ = nullptr;

 private:
  std::unique_ptr<IUserInterface> previousUi_;
};


// A ServerFixture that also counts BSTRs and global memory: the server
// buffers the library receives and frees. Release() lets go of what the
// test holds before the count.
class AllocationCheckedServerFixture : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    liveAll_ = com::LiveAllocations();
  }
  void TearDown() override {
    Release();
    ServerFixture::TearDown();
    SimulationControl::Reset();
    EXPECT_EQ(com::LiveAllocations(), liveAll_) << "a server buffer was leaked or freed twice";
  }
  virtual void Release() {}

  com::AllocationCounts liveAll_;
};

// The fixture of the connection watch: the application's timers on a
// manual clock (so that periods and back-off waits are checked to the
// millisecond without waiting for real time), losses, reconnections and
// the qualities of each data change recorded, and no dead server object
// left referenced afterwards.
class WatchedServerFixture : public ServerFixture {
 protected:
  void SetUp() override {
    Application().SetClock(clock_.AsClock());
    ServerFixture::SetUp();
    server_->SetOnConnectionLost([this](TPersistent* sender, HRESULT error, const std::string& text) {
      EXPECT_EQ(sender, server_.get());
      losses_.push_back({error, text});
    });
    server_->SetOnReconnect([this](TPersistent* sender) {
      EXPECT_EQ(sender, server_.get());
      ++reconnects_;
    });
    server_->SetOnDatachange([this](TPersistent*, TXeloItemList* list) {
      std::vector<std::int32_t> qualities;
      for (int i = 0; i < list->GetCount(); ++i) qualities.push_back(list->GetItem(i)->GetQuality());
      changes_.push_back(qualities);
    });
  }
  void TearDown() override {
    ServerFixture::TearDown();
    EXPECT_EQ(SimulationControl::Live().killedServers, 0u) << "dead server objects still referenced";
    EXPECT_EQ(SimulationControl::Live().killedGroups, 0u) << "dead group objects still referenced";
    SimulationControl::Reset();  // releases what the dead servers held of ours
    Application().SetClock({});
  }

  // Moves the application's clock in steps of 1 ms, handling what falls
  // due at each step.
  void Advance(std::chrono::milliseconds by) {
    for (auto step = std::chrono::milliseconds(0); step < by; ++step) {
      clock_.Advance(std::chrono::milliseconds(1));
      Pump();
    }
  }
  // The clock times (in ms from now) of the creation attempts of the next
  // `span`.
  std::vector<long> AttemptTimes(std::chrono::milliseconds span) {
    std::vector<long> times;
    unsigned seen = SimulationControl::CallCount("IClassFactory::CreateInstance");
    for (long t = 1; t <= span.count(); ++t) {
      Advance(std::chrono::milliseconds(1));
      for (; seen < SimulationControl::CallCount("IClassFactory::CreateInstance"); ++seen) times.push_back(t);
    }
    return times;
  }

  struct Loss {
    HRESULT error;
    std::string text;
  };
  com::ManualClock clock_;
  std::vector<Loss> losses_;
  std::vector<std::vector<std::int32_t>> changes_;
  int reconnects_ = 0;
};

// A fixture that records the component's data changes, write completions,
// write errors and shutdowns as lines of text (kind and item identifiers).
class EventRecordingFixture : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    server_->SetOnDatachange([this](TPersistent* sender, TXeloItemList* list) { Record("data", sender, list); });
    server_->SetOnWriteComplete([this](TPersistent* sender, TXeloItemList* list) { Record("written", sender, list); });
    server_->SetOnWriteError([this](TPersistent* sender, TXeloItemList* list) { Record("write error", sender, list); });
    server_->SetOnServerShutdown(
        [this](TPersistent*, const std::string& reason) { events_.push_back("shutdown:" + reason); });
  }
  // One line per event: its kind and the item identifiers of its list.
  void Record(const std::string& kind, TPersistent* sender, TXeloItemList* list) {
    EXPECT_EQ(sender, server_.get());  // the component, never the group
    std::string line = kind;
    for (int i = 0; i < list->GetCount(); ++i) line += " " + list->GetItem(i)->GetItemID();
    events_.push_back(line);
  }
  // A connected group "G" with the given items, its first values delivered
  // and forgotten.
  TXeloGroup* Subscribe(std::initializer_list<const char*> ids, const std::string& progId = sim::kProgIdSim) {
    group_ = AddGroup(ids);
    ConnectSim(progId);
    Pump();
    events_.clear();
    return group_;
  }
  TXeloItem& Item(int i) { return *group_->GetOPCItems()->GetItem(i); }
  void Publish(const OLECHAR* id, LONG value) {
    SetSimValue(id, value);
    SimulationControl::PublishNow();
  }

  TXeloGroup* group_ = nullptr;
  Lines events_;
};

// The code of the COM error the call raises, or S_OK when it raises none.
template <class Call>
HRESULT OleErrorOf(Call call) {
  try {
    call();
  } catch (const EOleSysError& e) {
    return e.ErrorCode();
  }
  return S_OK;
}

// An OPC DA 1.0 stream block made by hand, as a server in another process
// might send it: header, item headers (client, value offset, quality, and a
// stamp unless the format has none), I4 values; handed to the sink in
// global memory that stays the caller's.
struct StreamEntry {
  OPCHANDLE client;
  WORD quality;
  LONG value;
  double stamp;
};
template <class Sink>
void SendStreamBlock(Sink& sink, CLIPFORMAT format, DWORD transaction, HRESULT status,
                     const std::vector<StreamEntry>& items) {
  const std::size_t headerSize = format == OPCSTMFORMATDATA ? 12 : 20;
  std::size_t valueAt = 20 + headerSize * items.size();
  std::vector<std::uint8_t> bytes(valueAt + 16 * items.size());
  const auto put = [&](std::size_t at, const auto& value) { std::memcpy(&bytes[at], &value, sizeof value); };
  put(0, static_cast<DWORD>(bytes.size()));
  put(4, static_cast<DWORD>(items.size()));
  put(12, transaction);
  put(16, status);
  for (std::size_t i = 0; i < items.size(); ++i, valueAt += 16) {
    const std::size_t at = 20 + headerSize * i;
    put(at, items[i].client);
    put(at + 4, static_cast<DWORD>(valueAt));
    put(at + 8, items[i].quality);
    if (headerSize == 20) put(at + 12, com::DateToFileTime(items[i].stamp));
    put(valueAt, WORD{VT_I4});
    put(valueAt + 8, items[i].value);
  }
  FORMATETC description{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::memcpy(GlobalLock(medium.hGlobal), bytes.data(), bytes.size());
  GlobalUnlock(medium.hGlobal);
  sink.OnDataChange(&description, &medium);
  GlobalFree(medium.hGlobal);
}

// OPC DA 1.0 data blocks as the simulation server's stream writer makes
// them, and the means to corrupt them.
using Bytes = std::vector<BYTE>;
template <class T>
void Poke(Bytes& b, std::size_t at, T value) {
  ASSERT_LE(at + sizeof value, b.size());
  std::memcpy(b.data() + at, &value, sizeof value);
}
// Offset of item i's value in a block with (20-byte) or without (12-byte)
// time-stamped item headers.
inline std::size_t ValueAt(const Bytes& b, int i, bool withTime = true) {
  DWORD value = 0;
  std::memcpy(&value, b.data() + 20 + (withTime ? 20 : 12) * i + 4, sizeof value);
  return value;
}
// A block of `values`, client handles 1, 2, ...
inline Bytes Encode(const std::vector<Variant>& values, bool withTime = true) {
  std::vector<sim::StreamWriter::Item> items;
  for (std::size_t i = 0; i < values.size(); ++i) {
    items.push_back({static_cast<OPCHANDLE>(i + 1), &values[i].AsVARIANT(), OPC_QUALITY_GOOD,
                     FILETIME{static_cast<DWORD>(i), 7}});
  }
  return sim::StreamWriter::DataBytes(withTime, 0x4711, 99, items);
}
// A value of any type with the given bits in its value field.
inline Variant Raw(VARTYPE vt, ULONGLONG bits) {
  VARIANT v;
  VariantInit(&v);
  v.ullVal = bits;
  v.vt = vt;
  return Variant::Attach(v);
}

// A server object that refuses every IOPCServer method, for tests that
// script only its other interfaces (or none), registered under `progId`
// while the returned registration lives.
template <class... More>
class StubServer : public com::ComObject<IOPCServer, More...> {
 public:
  STDMETHOD(AddGroup)(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD, OPCHANDLE*, DWORD*, REFIID,
                      LPUNKNOWN*) override { return E_NOTIMPL; }
  STDMETHOD(GetErrorString)(HRESULT, LCID, LPWSTR*) override { return E_NOTIMPL; }
  STDMETHOD(GetGroupByName)(LPCWSTR, REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }
  STDMETHOD(GetStatus)(OPCSERVERSTATUS**) override { return E_NOTIMPL; }
  STDMETHOD(RemoveGroup)(OPCHANDLE, BOOL) override { return E_NOTIMPL; }
  STDMETHOD(CreateGroupEnumerator)(OPCENUMSCOPE, REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }
};
template <class Server>
com::ClassRegistration StubRegistration(const CLSID& clsid, const std::string& progId) {
  return com::ClassRegistration{clsid, progId, progId, {}, false, com::MakeClassFactory<Server>()};
}

// A server whose item properties are scripted, for answers the simulation
// never gives (ids with the top bit set, success codes with a remark, no
// properties): the properties listed (all of type VT_BSTR), each answering
// its code in `codes` or S_OK, and every non-failure a value "scripted" or
// the identifier "Scripted.Id".
struct PropertyScript {
  std::vector<std::pair<DWORD, com::OleString>> properties;
  std::map<DWORD, HRESULT> codes;
  HRESULT CodeOf(DWORD id) const { return codes.contains(id) ? codes.at(id) : S_OK; }
};
inline PropertyScript gPropertyScript;

class ScriptedPropertiesServer : public StubServer<IOPCItemProperties> {
 public:
  STDMETHOD(QueryAvailableProperties)(LPWSTR, DWORD* count, DWORD** ids, LPWSTR** texts, VARTYPE** types) override {
    const auto& properties = gPropertyScript.properties;
    *count = static_cast<DWORD>(properties.size());
    *ids = TaskArray<DWORD>(properties.size());
    *texts = TaskArray<LPWSTR>(properties.size());
    *types = TaskArray<VARTYPE>(properties.size());
    for (std::size_t i = 0; i < properties.size(); ++i) {
      (*ids)[i] = properties[i].first;
      (*texts)[i] = com::CoTaskMemStrDup(properties[i].second);
      (*types)[i] = VT_BSTR;
    }
    return S_OK;
  }
  STDMETHOD(GetItemProperties)(LPWSTR, DWORD count, DWORD* ids, VARIANT** values, HRESULT** errors) override {
    *values = TaskArray<VARIANT>(count);
    *errors = TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i) {
      (*errors)[i] = gPropertyScript.CodeOf(ids[i]);
      if (SUCCEEDED((*errors)[i])) {
        (*values)[i].vt = VT_BSTR;
        (*values)[i].bstrVal = SysAllocString(OLESTR("scripted"));
      }
    }
    return S_OK;
  }
  STDMETHOD(LookupItemIDs)(LPWSTR, DWORD count, DWORD* ids, LPWSTR** itemIds, HRESULT** errors) override {
    *itemIds = TaskArray<LPWSTR>(count);
    *errors = TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i) {
      (*errors)[i] = gPropertyScript.CodeOf(ids[i]);
      if (SUCCEEDED((*errors)[i])) (*itemIds)[i] = com::CoTaskMemStrDup(OLESTR("Scripted.Id"));
    }
    return S_OK;
  }

 private:
  template <class T>
  static T* TaskArray(std::size_t n) {
    auto* block = static_cast<T*>(CoTaskMemAlloc((n == 0 ? 1 : n) * sizeof(T)));
    for (std::size_t i = 0; i < n; ++i) block[i] = T{};
    return block;
  }
};

}  // namespace xelo::test
