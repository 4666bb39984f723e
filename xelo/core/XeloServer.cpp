#include "xelo/core/XeloServer.h"

#include "xelo/com/Activation.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/com/ConnectionPoints.h"
#include "xelo/com/Guid.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/com/WideText.h"
#include "xelo/core/ServerBuffers.h"
#include "xelo/core/XeloBrowser.h"
#include "xelo/core/XeloFormat.h"
#include "xelo/core/XeloGroups.h"
#include "xelo/core/XeloItems.h"
#include "xelo/core/XeloShutdownEvent.h"
#include "xelo/core/XeloStrings.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/MessageWindow.h"
#include "xelo/framework/SysUtils.h"

#include <chrono>
#include <optional>
#include <thread>

namespace xelo {

namespace {

constexpr char kIntfNotSupported[] = "Interface not supported";

// The name as a ProgID of this computer first (also for servers on other
// computers: the names are looked up here), then as a class identifier text.
std::optional<CLSID> ProgIDToCLSID(const std::string& name) {
  const com::OleString wide = StringToWide(name);
  CLSID clsid{};
  if (SUCCEEDED(com::ClassIdFromProgId(wide.c_str(), &clsid))) return clsid;
  if (SUCCEEDED(CLSIDFromString(wide.c_str(), &clsid))) return clsid;
  return std::nullopt;
}

// Frees a status record of the server's allocator, vendor text first.
void FreeStatus(OPCSERVERSTATUS* status) {
  if (status == nullptr) return;
  ::CoTaskMemFree(status->szVendorInfo);
  ::CoTaskMemFree(status);
}

}  // namespace

// ---- CoOPCServer -------------------------------------------------------------

com::ComPtr<IOPCServer> CoOPCServer::Create(const CLSID& ClassID, const std::string& ComputerName) {
  com::ComPtr<IUnknown> object;
  if (Trim(ComputerName).empty()) {
    OleCheck(CoCreateInstance(ClassID, nullptr, CLSCTX_ALL, IID_IUnknown, object.PutVoid()));
  } else {
    // The name goes out as the user wrote it; resolving it is the remote
    // side's business.
    com::OleString computer = StringToWide(ComputerName);
    COSERVERINFO serverInfo{0, computer.data(), nullptr, 0};
    MULTI_QI query{&IID_IUnknown, nullptr, S_OK};
    const HRESULT hr = CoCreateInstanceEx(ClassID, nullptr, CLSCTX_ALL, &serverInfo, 1, &query);
    if (FAILED(hr)) OleError(hr);
    object = com::ComPtr<IUnknown>::Attach(query.pItf);
    OleCheck(query.hr);
  }
  com::ComPtr<IOPCServer> server;
  if (FAILED(object.As(server)) || !server) throw EIntfCastError(kIntfNotSupported);
  return server;
}

HRESULT XeloInitSecurity() {
  return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IMPERSONATE,
                              nullptr, EOAC_NONE, nullptr);
}

// ---- TXeloServer: construction ---------------------------------------------

TXeloServer::TXeloServer(TComponent* owner)
    : TComponent(owner),
      browser_(std::make_unique<TXeloBrowser>(nullptr)),
      opcGroups_(std::make_unique<TXeloGroups>(this)),
      opcGroupDefault_(std::make_unique<TxDefaultGroup>()) {}

TXeloServer::~TXeloServer() {
  // Messages still queued for the window free their items unread.
  if (window_ != nullptr) DeallocateHWnd(window_);
  window_ = nullptr;
  // Destruction is no disconnect the application asked for: no event.
  onDisconnect_ = nullptr;
  try {
    SetActive(false);
  } catch (...) {
    // A destructor must not throw; releasing references cannot fail, and
    // whatever the server answered to the removal no longer matters.
  }
  opcGroupDefault_.reset();
  browser_.reset();
  opcGroups_.reset();
}

TClass TXeloServer::StaticClass() {
  using T = TXeloServer;
  static const TMetaClass meta =
      TClassBuilder<T>("TXeloServer")
          .Boolean("BatchMode", &T::GetBatchMode, &T::SetBatchMode)
          .String("ComputerName", &T::GetComputerName, &T::SetComputername)
          .String("ServerName", &T::GetServerName, &T::SetServer)
          .Object("OPCGroups", &T::GetOPCGroups)
          .Object("OPCGroupDefault", &T::GetOPCGroupDefault)
          .Boolean("Active", &T::GetActive, &T::SetActive)
          .String("ClientName", &T::GetClientName, &T::SetClientName)
          .String("Version", &T::GetVersion, &T::SetVersion)
          .Integer("ConnectDelay", &T::GetConnectDelay, &T::SetConnectDelay)
          .Integer("KeepAlive", &T::GetKeepAlive, &T::SetKeepAlive, Default(kDefaultKeepAlive))
          .Boolean("AutoReconnect", &T::GetAutoReconnect, &T::SetAutoReconnect, Default(false))
          .Integer("ReconnectInterval", &T::GetReconnectInterval, &T::SetReconnectInterval,
                   Default(kDefaultReconnectInterval))
          .Integer("ReconnectMaxInterval", &T::GetReconnectMaxInterval, &T::SetReconnectMaxInterval,
                   Default(kDefaultReconnectMaxInterval))
          .Event("OnError", &T::GetOnError, &T::SetOnError)
          .Event("OnServerShutdown", &T::GetOnServerShutdown, &T::SetOnServerShutdown)
          .Event("OnConnect", &T::GetOnConnect, &T::SetOnConnect)
          .Event("OnDisconnect", &T::GetOnDisconnect, &T::SetOnDisconnect)
          .Event("OnDatachange", &T::GetOnDatachange, &T::SetOnDatachange)
          .Event("OnWriteError", &T::GetOnWriteError, &T::SetOnWriteError)
          .Event("OnWriteComplete", &T::GetOnWriteComplete, &T::SetOnWriteComplete)
          .Event("OnConnectionLost", &T::GetOnConnectionLost, &T::SetOnConnectionLost)
          .Event("OnReconnect", &T::GetOnReconnect, &T::SetOnReconnect)
          .Build();
  return &meta;
}

namespace {
// Streams create the component by class name.
const bool registered = [] {
  RegisterClass(TXeloServer::StaticClass());
  return true;
}();
}  // namespace

// ---- properties ------------------------------------------------------------

void TXeloServer::SetServer(const std::string& value) {
  if (value == serverName_) return;
  if (!GetComponentState().Contains(csLoading)) SetActive(false);
  serverName_ = value;
}

void TXeloServer::CheckConnectDelay(std::int64_t value) {
  if (value < 0 || value > kMaxConnectDelay) {
    throw EPropertyError("Value " + std::to_string(value) + " is out of range for property ConnectDelay (0.." +
                         std::to_string(kMaxConnectDelay) + " milliseconds)");
  }
}

void TXeloServer::SetConnectDelay(std::int32_t value) {
  CheckConnectDelay(value);
  connectDelay_ = value;
}

void TXeloServer::SetComputername(const std::string& value) {
  if (value == computerName_) return;
  if (!GetComponentState().Contains(csLoading)) SetActive(false);
  computerName_ = value;
}

void TXeloServer::SetActive(bool value) {
  if (GetComponentState().Contains(csLoading)) {
    active_ = value;  // Loaded() connects once everything is read
    return;
  }
  if (value == active_) return;
  if (value) {
    Activate();
  } else {
    Deactivate();
  }
}

void TXeloServer::Deactivate() {
  active_ = false;
  StopWatch();
  RemoveServerInterface();  // with the connection lost, nothing is asked of the server
  connectionLost_ = false;
  if (onDisconnect_) onDisconnect_(this);
  active_ = false;
}

void TXeloServer::Activate() {
  RemoveServerInterface();  // nothing of an earlier connection may survive
  if (!OpenConnection()) return;
  if (onConnect_) onConnect_(this);
  active_ = true;
}

bool TXeloServer::OpenConnection() {
  const std::optional<CLSID> clsid = ProgIDToCLSID(serverName_);
  if (!clsid) {
    Fault(_STR_NOServer);
    return false;
  }
  // In-process servers schedule their callbacks on the current application
  // when they are created; make sure it exists first.
  Application();
  server_ = CoOPCServer::Create(*clsid, computerName_);
  if (ItemsExists()) WaitConnectDelay();
  if (!server_) {
    Fault(Format(_STR_NOCONNECT, serverName_));
    return false;
  }
  active_ = true;  // the steps below already see an active component
  BindBrowser();
  SubscribeShutdown();
  GetCommonIF();
  GetItemPropIF();
  if (common_ && !Trim(clientName_).empty()) {
    // The name goes out exactly as given; only an all-blank name is skipped.
    const com::OleString name = StringToWide(clientName_);
    common_->SetClientName(name.c_str());  // optional: the answer does not matter
  }
  // Watched from here on: a server that dies while its groups are being
  // created is noticed too.
  StartKeepAlive();
  opcGroups_->CreateAllOPCGroups();
  return true;
}

void TXeloServer::WaitConnectDelay() const {
  // Slow servers need a moment before their groups accept items; the
  // setter keeps the pause short enough for the main thread.
  if (connectDelay_ <= 0) return;
  if (connectWait_) {
    connectWait_(connectDelay_);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(connectDelay_));
  }
}

void TXeloServer::Loaded() {
  TComponent::Loaded();
  if (GetComponentState().Contains(csDesigning)) batchMode_ = false;
  if (active_) {
    active_ = false;
    SetActive(true);
  } else if (server_) {
    // Loaded with Active = False while connected: finish the deactivation
    // the loading state held back, or the connection would stay open while
    // Active reads false and no later SetActive(false) would close it.
    Deactivate();
  }
}

// ---- connection ------------------------------------------------------------

void TXeloServer::Connect(const std::string& ServerName, const std::string& ComputerName) {
  SetActive(false);
  SetServer(ServerName);
  SetComputername(ComputerName);
  SetActive(true);
}

void TXeloServer::Disconnect() { SetActive(false); }

bool TXeloServer::CheckServer() {
  if (server_) return true;
  Fault(_STR_NOTACTIVE);
  return false;
}

void TXeloServer::Fault(const std::string& Message) {
  bool raiseException = true;
  if (onError_) onError_(this, Message, raiseException);
  if (raiseException) throw EOPCException(Message);
}

com::ComPtr<IOPCServer> TXeloServer::GetOPCServer() {
  if (!CheckServer()) return nullptr;
  return server_;
}

com::ComPtr<IOPCCommon> TXeloServer::GetCommonIF() {
  if (!CheckServer()) return nullptr;
  if (!common_) server_.As(common_);
  return common_;
}

com::ComPtr<IOPCItemProperties> TXeloServer::GetItemPropIF() {
  if (!CheckServer()) return nullptr;
  if (!itemProps_) server_.As(itemProps_);
  return itemProps_;
}

bool TXeloServer::Version2() const {
  if (!server_) return false;
  return static_cast<bool>(server_.As<IConnectionPointContainer>());
}

std::string TXeloServer::GetErrorString(HRESULT Code) {
  if (!CheckServer()) return {};
  ReturnedText text;
  if (FAILED(server_->GetErrorString(Code, 0, text.Put()))) return {};
  return text.Text();
}

bool TXeloServer::ItemsExists() const {
  for (int i = 0; i < opcGroups_->GetCount(); ++i) {
    if (opcGroups_->GetItem(i)->GetOPCItems()->GetCount() > 0) return true;
  }
  return false;
}

int TXeloServer::GetGroupCount() const { return opcGroups_->GetCount(); }

void TXeloServer::RemoveServerInterface() {
  if (connectionLost_) {
    // A dead server answers nothing; each call would only cost time.
    DropServerInterface();
    return;
  }
  ReleaseShutdownSink();
  common_ = nullptr;
  itemProps_ = nullptr;
  opcGroups_->RemoveAllOPCGroups();
  UnbindBrowser();
  server_ = nullptr;
}

LCID TXeloServer::GetLocaleId() {
  if (!common_) throw EOPCException(_STR_NOTACTIVE);
  LCID locale = 0;
  OPCCheck(common_->GetLocaleID(&locale));
  return locale;
}

void TXeloServer::SetLocaleId(LCID value) {
  if (common_) common_->SetLocaleID(value);  // optional: a refusal is not reported
}

// ---- hooks -----------------------------------------------------------------

void TXeloServer::BindBrowser() { browser_->SetOPCServer(this); }
void TXeloServer::UnbindBrowser() { browser_->SetOPCServer(nullptr); }
void TXeloServer::SubscribeShutdown() { shutdownSink_ = TXeloShutdownEvent::Create(this); }

void TXeloServer::ReleaseShutdownSink() {
  // Cancelled while the server reference is still held, so that the
  // cancellation reaches the server; detached so that a server that keeps
  // the sink a little longer cannot reach this component.
  if (shutdownSink_) shutdownSink_->Unsubscribe();
  shutdownSink_ = nullptr;
}

// ---- server status ---------------------------------------------------------

bool TXeloServer::FetchStatus(OPCSERVERSTATUS& record, std::string& vendor) {
  if (!CheckServer()) return false;
  OPCSERVERSTATUS* status = nullptr;
  const HRESULT hr = server_->GetStatus(&status);
  if (FAILED(hr)) FreeStatus(status);
  NoteCallResult(hr);
  OPCCheck(hr);
  if (status == nullptr) {
    Fault(_STR_NOTACTIVE);
    return false;
  }
  try {
    record = *status;
    record.szVendorInfo = nullptr;  // the text goes back to the server's allocator
    if (status->szVendorInfo != nullptr) vendor = com::ToUtf8(status->szVendorInfo);
  } catch (...) {
    FreeStatus(status);
    throw;
  }
  FreeStatus(status);
  return true;
}

OPCSERVERSTATUS TXeloServer::GetStatus() {
  OPCSERVERSTATUS result{};
  std::string vendor;
  FetchStatus(result, vendor);
  return result;
}

tServerStateRec TXeloServer::GetState() {
  tServerStateRec result;
  OPCSERVERSTATUS status{};
  if (!FetchStatus(status, result.VendorInfo)) return result;
  result.StartTime = FileTimeToDateTime(status.ftStartTime);
  result.CurrentTime = FileTimeToDateTime(status.ftCurrentTime);
  result.LastUpdateTime = FileTimeToDateTime(status.ftLastUpdateTime);
  result.ServerState = static_cast<std::int32_t>(status.dwServerState);
  result.ServerGroupCount = static_cast<std::int32_t>(status.dwGroupCount);
  result.BandWidth = static_cast<std::int32_t>(status.dwBandWidth);
  result.MajorVersion = status.wMajorVersion;
  result.MinorVersion = status.wMinorVersion;
  result.BuildNumber = status.wBuildNumber;
  return result;
}

std::string TXeloServer::GetServerStateStr() { return ServerStateToStr(GetServerState()); }

std::int32_t TXeloServer::GetBandWidth() { return static_cast<std::int32_t>(GetStatus().dwBandWidth); }

// Zero-extended: build 65535 stays 65535.
std::int32_t TXeloServer::GetBuildNumber() { return GetStatus().wBuildNumber; }

}  // namespace xelo
