// The strict ownership mode: the server catches a client that changes or
// frees what a callback lends it, or keeps what a method hands it. Each
// test plays such a client on purpose and takes the violations back, so
// that the fixture's own check finds none left over; the fixture's counts
// prove that the server neither frees twice what a client freed nor leaks.
#include "support/RecordingSinks.h"
#include "SimHelpers.h"

#include "xelo/com/SafeArray.h"

#include <cstdlib>
#include <functional>
#include <string>

namespace xelo::sim::test {
namespace {

using Violations = std::vector<std::string>;

// The violations up to an [out] checkpoint now, forgotten.
Violations TakeViolations() {
  SimulationControl::CheckOwnership();
  Violations violations = SimulationControl::OwnershipViolations();
  SimulationControl::Reset();
  return violations;
}

// What an IOPCDataCallback method was lent; values, qualities and time
// stamps are null in OnWriteComplete.
struct Lent {
  DWORD count;
  OPCHANDLE* clients;
  VARIANT* values;
  WORD* qualities;
  FILETIME* times;
  HRESULT* errors;
};

// A data callback sink that commits `fault` in every callback.
class MisbehavingDataSink final : public xelo::com::ComObject<IOPCDataCallback> {
 public:
  explicit MisbehavingDataSink(std::function<void(const Lent&)> fault) : fault_(std::move(fault)) {}
  unsigned calls = 0;

  STDMETHOD(OnDataChange)(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE* clients, VARIANT* values,
                          WORD* qualities, FILETIME* times, HRESULT* errors) override {
    return Commit({count, clients, values, qualities, times, errors});
  }
  STDMETHOD(OnReadComplete)(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE* clients, VARIANT* values,
                            WORD* qualities, FILETIME* times, HRESULT* errors) override {
    return Commit({count, clients, values, qualities, times, errors});
  }
  STDMETHOD(OnWriteComplete)(DWORD, OPCHANDLE, HRESULT, DWORD count, OPCHANDLE* clients, HRESULT* errors) override {
    return Commit({count, clients, nullptr, nullptr, nullptr, errors});
  }
  STDMETHOD(OnCancelComplete)(DWORD, OPCHANDLE) override { return S_OK; }

 private:
  HRESULT Commit(const Lent& lent) {
    ++calls;
    fault_(lent);
    return S_OK;
  }
  std::function<void(const Lent&)> fault_;
};

// The items every data callback scene lends, in this order: a string, a
// number and an array.
std::vector<OPCHANDLE> AddLentItems(Session& session) {
  ItemDefs defs;
  defs.Add(OLESTR("Static.String"), 1).Add(OLESTR("Static.Int32"), 2).Add(OLESTR("Channel 1.Device 1.Array"), 3);
  return session.Add(defs);
}

enum class Trigger { Update, Read, Write };

// Makes the server call the sink once, in the way `trigger` names.
void Provoke(Trigger trigger, Session& session, const std::vector<OPCHANDLE>& handles) {
  if (trigger == Trigger::Update) {
    SimulationControl::PublishNow();
    return;
  }
  auto io = session.As<IOPCAsyncIO2>();
  const Codes codes = trigger == Trigger::Read ? ReadAsync(io.Get(), handles, 7)
                                               : WriteAsync(io.Get(), {handles[1]}, {MakeI4(5)}, 8);
  EXPECT_EQ(codes, Codes(codes.size(), S_OK));
}

class StrictOwnership : public SimulationTest {
 protected:
  // Runs `scene` between a server that connects `sink` to its group and the
  // end of that session, and returns the violations it caused.
  template <class Scene>
  Violations WithDataSink(IUnknown* sink, Scene scene, DWORD rate = 100000) {
    {
      Session session(Create(), rate);
      Connect(session.items.Get(), sink);
      scene(session);
      Pump();
    }
    return TakeViolations();
  }
};

TEST_F(StrictOwnership, DataCallbacksCatchWhatTheClientChangesOrFreesOfWhatTheyLend) {
  const std::string change = "IOPCDataCallback::OnDataChange: the client ";
  const struct {
    const char* name;
    Trigger trigger;
    std::function<void(const Lent&)> fault;
    Violations expected;
  } cases[] = {
      {"takes the string out of its slot (copies the struct, empties the slot)", Trigger::Update,
       [](const Lent& l) {
         [[maybe_unused]] const VARIANT taken = l.values[0];
         VariantInit(&l.values[0]);
       },
       {change + "changed pvValues[0]"}},
      {"frees the lent string behind the slot", Trigger::Update,
       [](const Lent& l) { SysFreeString(l.values[0].bstrVal); }, {change + "freed the string of pvValues[0]"}},
      {"writes into the lent string", Trigger::Update, [](const Lent& l) { l.values[0].bstrVal[0] = OLESTR('J'); },
       {change + "changed the string of pvValues[0]"}},
      {"writes into the lent array", Trigger::Update,
       [](const Lent& l) { static_cast<double*>(l.values[2].parray->pvData)[1] = -1.0; },
       {change + "changed the elements of pvValues[2]"}},
      {"destroys the lent array", Trigger::Update, [](const Lent& l) { SafeArrayDestroy(l.values[2].parray); },
       {change + "freed the array of pvValues[2]", change + "freed the elements of pvValues[2]"}},
      {"changes a quality", Trigger::Read, [](const Lent& l) { l.qualities[1] = OPC_QUALITY_BAD; },
       {"IOPCDataCallback::OnReadComplete: the client changed pwQualities[1]"}},
      {"changes a time stamp", Trigger::Read, [](const Lent& l) { l.times[2] = FILETIME{}; },
       {"IOPCDataCallback::OnReadComplete: the client changed pftTimeStamps[2]"}},
      {"changes a client handle", Trigger::Write, [](const Lent& l) { l.clients[0] = 99; },
       {"IOPCDataCallback::OnWriteComplete: the client changed pClienthandles[0]"}},
      {"changes an error", Trigger::Write, [](const Lent& l) { l.errors[0] = E_FAIL; },
       {"IOPCDataCallback::OnWriteComplete: the client changed pErrors[0]"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto sink = xelo::com::MakeComObject<MisbehavingDataSink>(c.fault);
    const Violations violations = WithDataSink(sink->GetUnknown(), [&](Session& session) {
      Provoke(c.trigger, session, AddLentItems(session));
    });
    EXPECT_EQ(violations, c.expected);
  }
}

// A DA 1.0 stream sink that commits `fault` with what it is lent.
class MisbehavingStreamSink final : public xelo::com::ComObject<IAdviseSink> {
 public:
  explicit MisbehavingStreamSink(std::function<void(FORMATETC*, STGMEDIUM*)> fault) : fault_(std::move(fault)) {}
  STDMETHOD_(void, OnDataChange)(FORMATETC* format, STGMEDIUM* medium) override { fault_(format, medium); }
  STDMETHOD_(void, OnViewChange)(DWORD, LONG) override {}
  STDMETHOD_(void, OnRename)(IMoniker*) override {}
  STDMETHOD_(void, OnSave)() override {}
  STDMETHOD_(void, OnClose)() override {}

 private:
  std::function<void(FORMATETC*, STGMEDIUM*)> fault_;
};

TEST_F(StrictOwnership, StreamsAndShutdownNoticesCatchWhatTheClientChangesOrFrees) {
  const std::string notice = "IAdviseSink::OnDataChange: the client ";
  const struct {
    const char* name;
    std::function<void(FORMATETC*, STGMEDIUM*)> fault;
    Violations expected;
  } cases[] = {
      {"writes into the block",
       [](FORMATETC*, STGMEDIUM* m) {
         static_cast<BYTE*>(GlobalLock(m->hGlobal))[0] ^= 0xFF;
         GlobalUnlock(m->hGlobal);
       },
       {notice + "changed the data of pStgmed->hGlobal"}},
      {"frees the block", [](FORMATETC*, STGMEDIUM* m) { GlobalFree(m->hGlobal); },
       {notice + "freed the data of pStgmed->hGlobal"}},
      {"releases the medium", [](FORMATETC*, STGMEDIUM* m) { ReleaseStgMedium(m); },
       {notice + "changed *pStgmed", notice + "freed the data of pStgmed->hGlobal"}},
      {"changes the format", [](FORMATETC* f, STGMEDIUM*) { f->lindex = 0; }, {notice + "changed *pFormatetc"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      Session session(Create(OLESTR("Xelo.Sim.DA1.1")), 100000);
      auto data = session.As<IDataObject>();
      auto sink = xelo::com::MakeComObject<MisbehavingStreamSink>(c.fault);
      FORMATETC format{OPCSTMFORMATDATA, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
      DWORD connection = 0;
      ASSERT_EQ(data->DAdvise(&format, 0, sink.Get(), &connection), S_OK);
      session.AddOne(OLESTR("Static.String"), 1);
      SimulationControl::PublishNow();
      ASSERT_EQ(data->DUnadvise(connection), S_OK);
    }
    EXPECT_EQ(TakeViolations(), c.expected);
  }

  class ReasonChangingSink final : public xelo::com::ComObject<IOPCShutdown> {
   public:
    STDMETHOD(ShutdownRequest)(LPCWSTR reason) override {
      const_cast<OLECHAR*>(reason)[0] = OLESTR('X');
      return S_OK;
    }
  };
  auto server = Create();
  ShutdownAdvice advice(server.Get(), xelo::com::MakeComObject<ReasonChangingSink>()->GetUnknown());
  SimulationControl::RequestShutdown(OLESTR("Maintenance"));
  Pump();
  EXPECT_EQ(TakeViolations(), Violations{"IOPCShutdown::ShutdownRequest: the client changed szReason"});
  ASSERT_EQ(advice.Unadvise(), S_OK);
}

TEST_F(StrictOwnership, AnOutBufferKeptPastTheCheckpointIsReportedAndPoisoned) {
  const struct {
    const char* name;
    // Makes a call, frees everything it hands over except one block, and
    // returns that block.
    std::function<void*(ComPtr<IOPCServer>&)> keep;
    bool untilTheNextUpdateCycle;  // else until CheckOwnership()
    std::string expected;
  } cases[] = {
      {"an array",
       [](ComPtr<IOPCServer>& server) -> void* {
         DWORD count = 0;
         LCID* locales = nullptr;
         EXPECT_EQ(server.As<IOPCCommon>()->QueryAvailableLocaleIDs(&count, &locales), S_OK);
         return locales;
       },
       true, "IOPCCommon::QueryAvailableLocaleIDs: the client kept *pdwLcid, an [out] buffer, past the checkpoint"},
      {"a string",
       [](ComPtr<IOPCServer>& server) -> void* {
         LPWSTR text = nullptr;
         EXPECT_EQ(server->GetErrorString(E_FAIL, 0x0409, &text), S_OK);
         return text;
       },
       false, "IOPCServer::GetErrorString: the client kept *ppString, an [out] buffer, past the checkpoint"},
      {"a string an array owned",
       [](ComPtr<IOPCServer>& server) -> void* {
         DWORD high[] = {102};
         LPWSTR* ids = nullptr;
         HRESULT* errors = nullptr;
         server.As<IOPCItemProperties>()->LookupItemIDs(const_cast<LPWSTR>(OLESTR("Static.Double")), 1, high, &ids,
                                                        &errors);
         LPWSTR kept = ids[0];
         CoTaskMemFree(ids);
         Take(errors, 1);
         return kept;
       },
       false,
       "IOPCItemProperties::LookupItemIDs: the client kept (*ppszNewItemIDs)[0], an [out] buffer, past the "
       "checkpoint"},
      {"a browsed name",
       [](ComPtr<IOPCServer>& server) -> void* {
         ComPtr<IEnumString> names;
         EXPECT_EQ(server.As<IOPCBrowseServerAddressSpace>()->BrowseOPCItemIDs(OPC_BRANCH, OLESTR(""), VT_EMPTY, 0,
                                                                                names.Put()),
                   S_OK);
         LPOLESTR name = nullptr;
         EXPECT_EQ(names->Next(1, &name, nullptr), S_OK);
         return name;
       },
       false, "IEnumString::Next: the client kept a string of rgelt, an [out] buffer, past the checkpoint"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto server = Create();
    void* kept = c.keep(server);
    const auto block = xelo::com::FindTaskBlock(kept);
    ASSERT_TRUE(block);
    if (c.untilTheNextUpdateCycle) {
      Advance(std::chrono::milliseconds(100));  // the server's update period
    } else {
      SimulationControl::CheckOwnership();
    }
    EXPECT_EQ(TakeViolations(), Violations{c.expected});
    const auto* bytes = static_cast<const unsigned char*>(block->start);
    for (std::size_t i = 0; i < block->size; ++i) ASSERT_EQ(bytes[i], 0xDD) << "byte " << i;
    CoTaskMemFree(kept);
  }
}

TEST_F(StrictOwnership, SwitchedOffNothingIsCheckedAndResetKeepsTheMode) {
  auto sink = xelo::com::MakeComObject<MisbehavingDataSink>([](const Lent& l) { l.qualities[0] = 0; });
  const auto update = [](Session& session) {
    session.AddOne(OLESTR("Static.Int32"), 1);
    SimulationControl::PublishNow();
  };
  SimulationControl::SetStrictOwnership(false);
  EXPECT_EQ(WithDataSink(sink->GetUnknown(), update), Violations{});
  SimulationControl::SetStrictOwnership(true);
  SimulationControl::Reset();
  EXPECT_EQ(WithDataSink(sink->GetUnknown(), update),
            Violations{"IOPCDataCallback::OnDataChange: the client changed pwQualities[0]"});
  EXPECT_EQ(sink->calls, 2u);
}

// XELO_SIM_STRICT=1 is read when the program starts: the death test runs
// in a fresh process started with it.
TEST(StrictOwnershipFromTheEnvironment, AViolationAbortsTheProcessOncePrinted) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto strict = [](const char* value) {
#if defined(_WIN32)
    _putenv_s("XELO_SIM_STRICT", value);
#else
    setenv("XELO_SIM_STRICT", value, 1);
#endif
  };
  strict("1");
  EXPECT_DEATH(
      {
        xelo::com::ManualClock clock;
        xelo::com::DefaultScheduler scheduler(clock.AsClock());
        xelo::com::InstallScheduler(&scheduler);
        CLSID clsid{};
        CLSIDFromProgID(OLESTR("Xelo.Sim.1"), &clsid);
        ComPtr<IOPCServer> server;
        CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCServer, server.PutVoid());
        Session session(server);
        auto sink = xelo::com::MakeComObject<MisbehavingDataSink>([](const Lent& l) { l.qualities[0] = 0; });
        Connect(session.items.Get(), sink->GetUnknown());
        session.AddOne(OLESTR("Static.Int32"), 1);
        SimulationControl::PublishNow();
      },
      "ownership violation: IOPCDataCallback::OnDataChange: the client changed pwQualities\\[0\\]");
  strict("");
}

}  // namespace
}  // namespace xelo::sim::test
