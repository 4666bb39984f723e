// TXeloServer: the component through which an application talks to one OPC
// Data Access server, and the server object creation it is built on.
//
// The component names the server (ServerName: a ProgID, or a class
// identifier in its registry text form) and the computer that runs it
// (ComputerName; blank for this one) and is switched on and off through
// Active. Errors that need a connection go through Fault, which offers the
// text to OnError before raising EOPCException; creation failures of the
// server object reach the caller directly.
//
// Connection loss and reconnection (both off by default, and then nothing
// below happens):
// - KeepAlive > 0 reads the server status every KeepAlive milliseconds on
//   the framework's timer. A status read that fails, or any call of the
//   connection that fails with a connection failure code
//   (IsConnectionFailure: the RPC codes of a server that died or cannot be
//   reached), marks the connection lost; so does such a call while
//   AutoReconnect is on. The loss is handled on the main thread, once:
//   every reference to the dead server is let go without calling it,
//   every item gets the quality "bad: communication failure" (0x18), and
//   OnConnectionLost fires, then one OnDatachange with all those items.
//   Active stays True: the application still wants the connection.
//   Reads, writes and refreshes while lost raise "connection to OPC
//   server lost" through Fault, at once.
// - AutoReconnect then tries to connect anew after ReconnectInterval
//   milliseconds, doubling the wait after each failed attempt up to
//   ReconnectMaxInterval. An attempt is an activation: the server object
//   is created again, and every group and item with the settings it has
//   here now (rate, dead band, active flags, requested types). A
//   successful attempt fires OnReconnect (not OnConnect, whose handlers
//   often set things up once); the items come back with their next data
//   change. Without AutoReconnect the component stays lost until the
//   application sets Active to False (and True again).
// - With AutoReconnect a server that asks its clients to go (a shutdown
//   request: it is being restarted, more often than not) is waited for
//   like a lost one: OnServerShutdown fires, then the loss as above with
//   RPC_E_DISCONNECTED, and the attempts begin. A handler of
//   OnServerShutdown that switches AutoReconnect off gets the plain
//   deactivation instead.
// - Active := False while lost or reconnecting ends the attempts and fires
//   OnDisconnect, as any deactivation.
//
// Thread: the main thread, like every component.
#pragma once

#include "xelo/com/ComPtr.h"
#include "xelo/core/XeloErrors.h"
#include "xelo/framework/Component.h"
#include "xelo/framework/Messages.h"
#include "xelo/opc/Opc.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace xelo {

class TStream;
class TStrings;
class TxDefaultGroup;
class TXeloBrowser;
class TXeloGroups;
class TXeloItemList;
class TXeloShutdownEvent;
class Variant;

// Sender is always the server component.
using TOnOPCErrorEvent = std::function<void(TPersistent* Sender, const std::string& Errorstring, bool& RaiseException)>;
using TOnOPCServerShutdownEvent = std::function<void(TPersistent* Sender, const std::string& Reason)>;
using TOnOPCConnectEvent = std::function<void(TPersistent* Sender)>;
using TOnOPCDataChangeEvent = std::function<void(TPersistent* Sender, TXeloItemList* ItemList)>;
// Error is the failure that showed the loss, ErrorText the system's text
// for it.
using TOnOPCConnectionLostEvent =
    std::function<void(TPersistent* Sender, HRESULT Error, const std::string& ErrorText)>;

// The server's status record as the application sees it: local date-times,
// 16-bit numbers widened without sign, the vendor text as library text.
struct tServerStateRec {
  double StartTime = 0;
  double CurrentTime = 0;
  double LastUpdateTime = 0;
  std::int32_t ServerState = 0;
  std::int32_t ServerGroupCount = 0;
  std::int32_t BandWidth = 0;
  std::int32_t MajorVersion = 0;
  std::int32_t MinorVersion = 0;
  std::int32_t BuildNumber = 0;
  std::string VendorInfo;
};

// Creation of a server object by class identifier. Never instantiated.
class CoOPCServer {
 public:
  CoOPCServer() = delete;
  // A blank (after trimming) computer name creates the object on this
  // computer; any other name is handed untrimmed to the remote activation.
  // Creation failures raise EOleSysError with the code; an object without
  // IOPCServer raises EIntfCastError.
  static com::ComPtr<IOPCServer> Create(const CLSID& ClassID, const std::string& ComputerName);
};

// CoInitializeSecurity with no authentication and impersonation; the result
// is returned unchanged. The library never calls it itself.
HRESULT XeloInitSecurity();

// The longest ConnectDelay, in milliseconds. The component waits on the
// main thread, where a longer pause would freeze the application.
inline constexpr std::int32_t kMaxConnectDelay = 60000;

// The defaults and bounds of the connection watch, in milliseconds. The
// defaults are declared property defaults: a configuration file that does
// not mention them reads as these, and they are not written.
inline constexpr std::int32_t kDefaultKeepAlive = 0;  // off
inline constexpr std::int32_t kDefaultReconnectInterval = 1000;
inline constexpr std::int32_t kDefaultReconnectMaxInterval = 60000;
// No wait of the watch is longer than an hour.
inline constexpr std::int32_t kMaxWatchInterval = 3600000;

class TXeloServer : public TComponent {
  XELO_CLASS(TXeloServer, TComponent)

 public:
  explicit TXeloServer(TComponent* owner);
  ~TXeloServer() override;

  // ---- published properties ----
  bool GetBatchMode() const { return batchMode_; }
  void SetBatchMode(bool value) { batchMode_ = value; }
  const std::string& GetComputerName() const { return computerName_; }
  void SetComputername(const std::string& value);
  const std::string& GetServerName() const { return serverName_; }
  void SetServer(const std::string& value);
  // The groups and the settings new groups start with; the objects stay
  // for the component's lifetime, streaming fills them.
  TXeloGroups* GetOPCGroups() const { return opcGroups_.get(); }
  TxDefaultGroup* GetOPCGroupDefault() const { return opcGroupDefault_.get(); }
  // The component's own address-space browser, bound to it while it is
  // connected.
  TXeloBrowser* GetOPCBrowser() const { return browser_.get(); }
  bool GetActive() const { return active_; }
  void SetActive(bool value);
  const std::string& GetClientName() const { return clientName_; }
  void SetClientName(const std::string& value) { clientName_ = value; }
  const std::string& GetVersion() const { return version_; }
  // The version is the library's, not the stream's: writes are ignored.
  void SetVersion(const std::string& /*value*/) {}
  std::int32_t GetConnectDelay() const { return connectDelay_; }
  // 0..kMaxConnectDelay milliseconds: anything else raises EPropertyError
  // (CheckConnectDelay) and the delay stays.
  void SetConnectDelay(std::int32_t value);
  // EPropertyError "Value <v> is out of range for property ConnectDelay
  // (0..60000 milliseconds)" when `value` is no valid ConnectDelay.
  static void CheckConnectDelay(std::int64_t value);
  // How the component waits ConnectDelay milliseconds (never called with
  // less than 1): a blocking sleep unless replaced, for instance by a host
  // that keeps its windows alive meanwhile, or by a test that counts.
  using TConnectWait = std::function<void(std::int32_t milliseconds)>;
  void SetConnectWait(TConnectWait wait) { connectWait_ = std::move(wait); }

  // ---- connection watch (published; see the top of this file) ----
  // 0 (off) or the period of the status reads; 0..kMaxWatchInterval, else
  // EPropertyError and the setting stays. Takes effect at once.
  std::int32_t GetKeepAlive() const { return keepAlive_; }
  void SetKeepAlive(std::int32_t value);
  bool GetAutoReconnect() const { return autoReconnect_; }
  // Switched on while lost, the attempts start; off, they stop (the
  // component stays lost).
  void SetAutoReconnect(bool value);
  // The wait before the first attempt, 1..kMaxWatchInterval.
  std::int32_t GetReconnectInterval() const { return reconnectInterval_; }
  void SetReconnectInterval(std::int32_t value);
  // The longest wait between attempts, 1..kMaxWatchInterval; a
  // ReconnectInterval above it is used as it is.
  std::int32_t GetReconnectMaxInterval() const { return reconnectMaxInterval_; }
  void SetReconnectMaxInterval(std::int32_t value);
  // EPropertyError "Value <v> is out of range for property <Name> (<low>..
  // 3600000 milliseconds)" when `value` is no valid setting.
  static void CheckKeepAlive(std::int64_t value);
  static void CheckReconnectInterval(std::int64_t value);
  static void CheckReconnectMaxInterval(std::int64_t value);
  // True from the moment a loss was noticed until a reconnection or a
  // deactivation.
  bool GetConnectionLost() const { return connectionLost_; }
  // A call of this connection answered `hr`. While the connection is
  // watched (KeepAlive > 0 or AutoReconnect), a connection failure code
  // marks it lost; the loss is handled when the main thread next pumps,
  // never inside the caller's call. Nothing else happens.
  void NoteCallResult(HRESULT hr);

  const TOnOPCErrorEvent& GetOnError() const { return onError_; }
  void SetOnError(const TOnOPCErrorEvent& value) { onError_ = value; }
  const TOnOPCServerShutdownEvent& GetOnServerShutdown() const { return onServerShutdown_; }
  void SetOnServerShutdown(const TOnOPCServerShutdownEvent& value) { onServerShutdown_ = value; }
  const TOnOPCConnectEvent& GetOnConnect() const { return onConnect_; }
  void SetOnConnect(const TOnOPCConnectEvent& value) { onConnect_ = value; }
  const TOnOPCConnectEvent& GetOnDisconnect() const { return onDisconnect_; }
  void SetOnDisconnect(const TOnOPCConnectEvent& value) { onDisconnect_ = value; }
  const TOnOPCDataChangeEvent& GetOnDatachange() const { return onDatachange_; }
  void SetOnDatachange(const TOnOPCDataChangeEvent& value) { onDatachange_ = value; }
  const TOnOPCDataChangeEvent& GetOnWriteError() const { return onWriteError_; }
  void SetOnWriteError(const TOnOPCDataChangeEvent& value) { onWriteError_ = value; }
  const TOnOPCDataChangeEvent& GetOnWriteComplete() const { return onWriteComplete_; }
  void SetOnWriteComplete(const TOnOPCDataChangeEvent& value) { onWriteComplete_ = value; }
  const TOnOPCConnectionLostEvent& GetOnConnectionLost() const { return onConnectionLost_; }
  void SetOnConnectionLost(const TOnOPCConnectionLostEvent& value) { onConnectionLost_ = value; }
  const TOnOPCConnectEvent& GetOnReconnect() const { return onReconnect_; }
  void SetOnReconnect(const TOnOPCConnectEvent& value) { onReconnect_ = value; }

  // ---- connection ----
  // Deactivates, sets ServerName, then ComputerName, and activates.
  void Connect(const std::string& ServerName, const std::string& ComputerName);
  void Disconnect();
  // True with a server reference; otherwise Fault(_STR_NOTACTIVE), false.
  bool CheckServer();
  // Offers `Message` to OnError; raises EOPCException unless the handler
  // cleared RaiseException.
  void Fault(const std::string& Message);
  com::ComPtr<IOPCServer> GetOPCServer();
  // Cached after the first successful query; a server without the
  // interface gives none, silently.
  com::ComPtr<IOPCCommon> GetCommonIF();
  com::ComPtr<IOPCItemProperties> GetItemPropIF();
  // Whether the connected server is a connectable object (OPC DA 2.0).
  // Reports nothing.
  bool Version2() const;
  // The server's text for `Code` (locale 0); empty when the server has none.
  std::string GetErrorString(HRESULT Code);
  // True when some group holds an item.
  bool ItemsExists() const;
  int GetGroupCount() const;
  // Whether the server reference is held; reports nothing.
  bool Connected() const { return static_cast<bool>(server_); }
  void RemoveServerInterface();

  // Raises EOPCException(_STR_NOTACTIVE) directly when not connected.
  LCID GetLocaleId();
  // Ignored when not connected; the server's answer is ignored too.
  void SetLocaleId(LCID value);

  // ---- server status: each read is one GetStatus call ----
  // The numeric fields only; szVendorInfo is always null.
  OPCSERVERSTATUS GetStatus();
  tServerStateRec GetState();
  double GetStartTime() { return GetState().StartTime; }
  double GetCurrentTime() { return GetState().CurrentTime; }
  double GetLastUpdateTime() { return GetState().LastUpdateTime; }
  std::int32_t GetServerState() { return GetState().ServerState; }
  std::int32_t GetMajorVersion() { return GetState().MajorVersion; }
  std::int32_t GetMinorVersion() { return GetState().MinorVersion; }
  std::string GetVendorInfo() { return GetState().VendorInfo; }
  std::string GetServerStateStr();
  std::int32_t GetBandWidth();
  std::int32_t GetBuildNumber();

  // ---- configuration files: the component with its groups and items as
  // text ----
  // Writes the text at the stream's position.
  void SaveToStream(TStream& Stream);
  // Replaces the file's content; a failed save leaves the old file intact.
  void SaveToFile(const std::string& FileName);
  // Reads the text into this component (no check of the header). With
  // Active = True in the text the component connects once, at the end.
  // A text that does not parse (EParserError), or that gives ConnectDelay
  // or a group's UpdateRate, DeadBand or TimeBias (its own or the
  // defaults') a value out of bounds (EReadError "Error reading
  // <Class>.<Property>: Value ... is out of range ..."), changes nothing.
  // Other errors are found while the text is applied and leave what was
  // read before them (Filer.h).
  void LoadFromStream(TStream& Stream);
  // Checks that the file's beginning names the server class ("wrong
  // fileformat" otherwise, the component unchanged), then loads it.
  void LoadFromFile(const std::string& FileName);

  // ---- item properties (IOPCItemProperties) ----
  // Without a connection or without the server's item-properties interface
  // every query answers false or empty, silently.
  //
  // One line per property in the server's order: `id,"description",vartype`
  // with the id unsigned; true when List ends up non-empty. A failing query
  // raises through OPCCheck.
  bool QueryAvailableProperties(const std::string& ItemID, TStrings& List);
  // True when the server read the value with exactly S_OK; never raises.
  bool GetItemProperty(const std::string& ItemID, std::int32_t PropID, Variant& Value);
  // The item identifier that carries property PropID of ItemID; empty when
  // the call fails. A failing per-property code raises through OPCCheck.
  std::string LookupItemId(const std::string& ItemID, std::uint32_t PropID);

  void Loaded() override;

  // ---- the hidden window the callback sinks post to ----
  // Created on first use, destroyed with the component.
  HWND GetHandle();
  // Answers WM_QUERYENDSESSION with 1, hands the four CM_OPC... messages to
  // their handlers and reports an escaping exception through the
  // application's exception handler instead of passing it on.
  void WndProc(TMessage& Message);
  // OnServerShutdown (with an empty reason), then deactivation, or with
  // AutoReconnect the handling of a lost connection.
  void CMOPCShutDown(TMessage& Message);
  // OnDatachange with the items of the message, when the group of the
  // message still exists. Each handler frees the message's items, also
  // when the event raises.
  void CMOPCDatachange(TMessage& Message);
  // OnWriteError, or without a handler the items' errors raised as
  // "cannot write Items:".
  void CMOPCWriteError(TMessage& Message);
  void CMOPCWriteComplete(TMessage& Message);
  // The loss noticed earlier: the references to the dead server go, the
  // items turn bad, OnConnectionLost and OnDatachange fire, and with
  // AutoReconnect the first attempt is scheduled.
  void CMOPCConnectionLost(TMessage& Message);

 private:
  // One GetStatus call: the record (without its vendor pointer) and the
  // vendor text, both freed on the server's allocator; false after a Fault
  // that was suppressed. Failed calls raise through OPCCheck.
  bool FetchStatus(OPCSERVERSTATUS& record, std::string& vendor);
  // The steps of activation and deactivation that concern the own browser
  // and the shutdown notice.
  void BindBrowser();
  void UnbindBrowser();
  void SubscribeShutdown();
  void ReleaseShutdownSink();

  void Activate();
  void Deactivate();
  // The steps activation and reconnection share: from the server name to
  // the groups and items on the server. False after a Fault that was
  // suppressed; creation failures and group errors raise.
  bool OpenConnection();
  void WaitConnectDelay() const;

  // ---- connection watch (XeloServerConnection.cpp) ----
  // Lets go of every reference to a dead server without calling it.
  void DropServerInterface();
  void MarkConnectionLost(HRESULT hr);
  bool Watched() const { return keepAlive_ > 0 || autoReconnect_; }
  void StartKeepAlive();
  void StopWatch();
  void KeepAliveTick();
  void ScheduleReconnect(std::int32_t delay);
  void ReconnectTick();
  void OnWatchTimer(UINT_PTR id);

  // Field order follows the component's data model.
  bool active_ = false;
  std::string serverName_;
  TOnOPCErrorEvent onError_;
  com::ComPtr<IOPCServer> server_;
  com::ComPtr<IOPCCommon> common_;
  com::ComPtr<IOPCItemProperties> itemProps_;
  std::string computerName_;
  std::string clientName_;
  bool batchMode_ = false;
  std::string version_ = "1.40";
  TOnOPCServerShutdownEvent onServerShutdown_;
  TOnOPCConnectEvent onConnect_;
  TOnOPCDataChangeEvent onDatachange_;
  TOnOPCConnectEvent onDisconnect_;
  TOnOPCDataChangeEvent onWriteError_;
  TOnOPCDataChangeEvent onWriteComplete_;
  std::int32_t connectDelay_ = 300;
  HWND window_ = nullptr;
  com::ComPtr<TXeloShutdownEvent> shutdownSink_;
  std::unique_ptr<TXeloBrowser> browser_;
  std::unique_ptr<TXeloGroups> opcGroups_;
  std::unique_ptr<TxDefaultGroup> opcGroupDefault_;
  TConnectWait connectWait_;
  std::int32_t keepAlive_ = kDefaultKeepAlive;
  bool autoReconnect_ = false;
  std::int32_t reconnectInterval_ = kDefaultReconnectInterval;
  std::int32_t reconnectMaxInterval_ = kDefaultReconnectMaxInterval;
  TOnOPCConnectionLostEvent onConnectionLost_;
  TOnOPCConnectEvent onReconnect_;
  bool connectionLost_ = false;
  HRESULT lostError_ = S_OK;
  // The wait before the attempt now scheduled; 0 when none is.
  std::int32_t reconnectDelay_ = 0;
};

}  // namespace xelo
